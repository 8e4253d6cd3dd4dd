#!/usr/bin/python3
"""Test helper: a real SMTP server that keeps what it receives, a MIME reader, and a test CA.

  smtp_sink.py serve DIR [MODE CERTS NAME [HOST]]
                           listen on a free port of HOST (127.0.0.1), print "PORT <n>", and
                           write every message received as DIR/<n>.eml (raw bytes)
                           and DIR/<n>.json (envelope sender and recipients, HELO name,
                           login); ends when its standard input closes. MODE is plain
                           (the default), starttls (STARTTLS required before anything
                           else, then AUTH) or tls (TLS from the first byte, AUTH), with
                           the certificate CERTS/NAME.pem and its key CERTS/NAME.key.
  smtp_sink.py oauth DIR CERTS
                           an OAuth2 provider and a mail server that takes its tokens:
                           aiosmtpd with STARTTLS (CERTS/good.pem) offering XOAUTH2 and
                           OAUTHBEARER, which refuses a token with a 334 JSON challenge, and an
                           HTTPS server (the same certificate) with /authorize, which answers
                           with a redirect to the loopback redirect URI, and /token, which
                           checks the PKCE verifier against the challenge. Prints
                           "PORT <smtp> <https>", keeps messages as serve does (with the
                           mechanism and the token), and takes commands on standard input,
                           one a line, each answered with one line: "set NAME VALUE" (see
                           OAUTH below), "get NAME" (also the counters "authorizations",
                           "token_requests", "refreshes"), "revoke" (every access token
                           issued so far stops working).
  smtp_sink.py parse FILE  print the message in FILE (- for standard input) as JSON, read
                           by Python's email package with its modern policy as a mail
                           program of today reads it: the decoded subject, sender and
                           recipient, each leaf part's charset, file name and text (line
                           ends as LF) or bytes (base64), the plain filename parameter as
                           a reader without RFC 2231 reads it, the longest raw line,
                           whether the header is ASCII, every defect found, the Date as
                           seconds since 1970 (email.utils.parsedate_to_datetime) and the
                           Message-ID.
  smtp_sink.py certs DIR   make a test CA (DIR/ca.pem) and server certificates signed by
                           it: good (localhost, 127.0.0.1, ::1), other (other.example only),
                           unknown (localhost, signed by a CA nobody trusts), cnonly
                           (localhost only as the subject's CN) and partial (the
                           partial wildcard m*.kelvo.test).
"""
import asyncio
import base64
import email
import email.policy
import email.utils
import json
import os
import re
import ssl
import subprocess
import sys
from email.header import decode_header, make_header

# The logins the server accepts: user and password as UTF-8.
LOGINS = {("kelvo", "secret"), ("ユーザー", "pässwörd 秘密")}


def serve(folder, mode="plain", certs=None, name=None, host="127.0.0.1", server_class=None, exclude=list,
          control=None, greeting="PORT %d"):
    from aiosmtpd.smtp import SMTP, AuthResult

    class Keeper:
        def __init__(self):
            self.count = 0

        async def handle_DATA(self, server, session, envelope):
            self.count += 1
            stem = os.path.join(folder, "%d" % self.count)
            with open(stem + ".eml", "wb") as f:
                f.write(envelope.original_content)
            login = session.auth_data.login if session.auth_data else None
            info = {"from": envelope.mail_from, "rcpt": list(envelope.rcpt_tos),
                    "helo": session.host_name,
                    "auth": login.decode("utf-8") if isinstance(login, bytes) else login,
                    "mechanism": getattr(session, "mechanism", None), "token": getattr(session, "token", None)}
            # The .json file appears last and whole: a reader that sees it sees both.
            with open(stem + ".tmp", "w") as f:
                json.dump(info, f)
            os.replace(stem + ".tmp", stem + ".json")
            return "250 Message accepted for delivery"

    def authenticator(server, session, envelope, mechanism, data):
        try:
            pair = (data.login.decode("utf-8"), data.password.decode("utf-8"))
        except UnicodeDecodeError:
            pair = None
        # Not "handled": aiosmtpd then answers a refusal itself (535).
        return AuthResult(success=pair in LOGINS, handled=False, auth_data=data)

    keeper = Keeper()
    context = None
    options = {}
    if mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(certs, name + ".pem"), os.path.join(certs, name + ".key"))
        # On a connection that is TLS from the start, aiosmtpd does not know it is
        # protected; it still never sees a password in the clear.
        options = dict(authenticator=authenticator, auth_require_tls=(mode == "starttls"))
        if mode == "starttls":
            options.update(tls_context=context, require_starttls=True)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: (server_class or SMTP)(keeper, hostname="sink.local", decode_data=False,
                                       data_size_limit=64 * 1024 * 1024, auth_exclude_mechanism=exclude(),
                                       **options),
        host, 0, ssl=context if mode == "tls" else None))
    print(greeting % server.sockets[0].getsockname()[1], flush=True)

    stdin_closed = loop.create_future()
    pending = [b""]

    def read_commands():
        data = os.read(sys.stdin.fileno(), 4096)
        if not data:
            return stdin_closed.done() or stdin_closed.set_result(True)
        pending[0] += data
        while control and b"\n" in pending[0]:
            line, pending[0] = pending[0].split(b"\n", 1)
            print(control(line.decode().strip()), flush=True)
    loop.add_reader(sys.stdin.fileno(), read_commands)
    loop.run_until_complete(stdin_closed)
    server.close()


# The provider's behaviour, changed by "set": the client ID it knows; the state its redirect
# carries (keep, or wrong); an error instead of a code; what /token answers (json, html,
# noaccess, huge, redirect); whether a refresh is taken (ok) or refused (invalid_grant); the
# lifetime of an access token; which SASL mechanisms the mail server offers (both, xoauth2);
# whether it takes the tokens issued (takes) or none (refuses); a token it takes besides those
# issued (the desktop's).
OAUTH = {"client_id": "kelvo-test-client", "state": "keep", "authorize_error": "", "token_answer": "json",
         "refresh": "ok", "expires_in": "3600", "mechanisms": "both", "smtp": "takes", "extra_token": "",
         "authorizations": 0, "token_requests": 0, "refreshes": 0}


def oauth(folder, certs):
    import hashlib
    import secrets
    import threading
    import urllib.parse
    from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    lock = threading.Lock()
    codes, access, refresh = {}, set(), set()

    def issue(reply, with_refresh):
        token = "kelvo-test-access-" + secrets.token_urlsafe(24)
        access.add(token)
        answer = {"access_token": token, "token_type": "Bearer", "expires_in": int(OAUTH["expires_in"])}
        if with_refresh:
            answer["refresh_token"] = "kelvo-test-refresh-" + secrets.token_urlsafe(24)
            refresh.add(answer["refresh_token"])
        mode = OAUTH["token_answer"]
        if mode == "html":
            return reply(200, "text/html", b"<html><body>Sign in again</body></html>")
        if mode == "redirect":
            return reply(302, "text/html", b"", {"Location": "http://example.invalid/token"})
        if mode == "noaccess":
            del answer["access_token"]
        if mode == "huge":
            answer["padding"] = "x" * (8 * 1024 * 1024)
        reply(200, "application/json", json.dumps(answer).encode())

    class Provider(BaseHTTPRequestHandler):
        def reply(self, status, kind, body, headers={}):
            self.send_response(status)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            for name, value in headers.items():
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            query = dict(urllib.parse.parse_qsl(url.query))
            redirect = query.get("redirect_uri", "")
            with lock:
                OAUTH["authorizations"] += 1
                good = (url.path == "/authorize" and query.get("response_type") == "code" and
                        query.get("client_id") == OAUTH["client_id"] and query.get("scope") and
                        query.get("code_challenge_method") == "S256" and query.get("code_challenge") and
                        re.fullmatch(r"http://127\.0\.0\.1:\d+/", redirect) is not None)
                if not good:
                    return self.reply(400, "text/plain", b"bad authorization request")
                code = secrets.token_urlsafe(16)
                codes[code] = (query["code_challenge"], redirect)
                state = query.get("state", "") if OAUTH["state"] == "keep" else "forged"
                answer = {"error": OAUTH["authorize_error"]} if OAUTH["authorize_error"] else {"code": code}
            answer["state"] = state
            self.reply(302, "text/html", b"", {"Location": redirect + "?" + urllib.parse.urlencode(answer)})

        def do_POST(self):
            form = dict(urllib.parse.parse_qsl(self.rfile.read(int(self.headers["Content-Length"])).decode()))
            with lock:
                OAUTH["token_requests"] += 1
                if OAUTH["token_answer"] != "json":
                    return issue(self.reply, False)
                refused = lambda: self.reply(400, "application/json", b'{"error":"invalid_grant",'
                                             b'"error_description":"The grant is no longer valid."}')
                if self.path != "/token" or form.get("client_id") != OAUTH["client_id"]:
                    return self.reply(401, "application/json", b'{"error":"invalid_client"}')
                if form.get("grant_type") == "refresh_token":
                    OAUTH["refreshes"] += 1
                    if OAUTH["refresh"] != "ok" or form.get("refresh_token") not in refresh:
                        return refused()
                    return issue(self.reply, False)
                challenge, redirect = codes.pop(form.get("code"), (None, None))
                verifier = hashlib.sha256(form.get("code_verifier", "").encode()).digest()
                if challenge != base64.urlsafe_b64encode(verifier).rstrip(b"=").decode() or \
                        redirect != form.get("redirect_uri"):
                    return refused()
                issue(self.reply, True)

        def log_message(self, *args):
            pass

    class TokenSmtp(SMTP):
        async def token_login(self, mechanism, payload, pattern):
            found = re.fullmatch(pattern, payload.decode("utf-8", "replace"), re.S)
            user, token = (found.group(1), found.group(2)) if found else ("", "")
            with lock:
                good = (token in access and OAUTH["smtp"] == "takes") or (token and token == OAUTH["extra_token"])
            if good:
                self.session.mechanism, self.session.token = mechanism, token
                return AuthResult(success=True, auth_data=LoginPassword(user.encode(), token.encode()))
            status = {"status": "invalid_token"} if mechanism == "OAUTHBEARER" else {"status": "401"}
            answer = await self.challenge_auth(json.dumps(status))
            expected = b"\x01" if mechanism == "OAUTHBEARER" else b""
            return AuthResult(success=False, handled=False, message=None if answer == expected else
                              "535 5.7.8 wrong answer to the challenge")

        async def auth_XOAUTH2(self, _, args):
            return await self.token_login("XOAUTH2", base64.b64decode(args[1]),
                                          "user=([^\x01]*)\x01auth=Bearer ([^\x01]+)\x01\x01")

        async def auth_OAUTHBEARER(self, _, args):
            return await self.token_login("OAUTHBEARER", base64.b64decode(args[1]),
                                          "n,a=([^,]*),\x01host=[^\x01]+\x01port=\\d+\x01auth=Bearer ([^\x01]+)\x01\x01")

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(certs, "good.pem"), os.path.join(certs, "good.key"))
    https = ThreadingHTTPServer(("127.0.0.1", 0), Provider)
    https.socket = context.wrap_socket(https.socket, server_side=True)
    threading.Thread(target=https.serve_forever, daemon=True).start()

    def control(line):
        name, _, value = line.partition(" ")
        with lock:
            if name == "set":
                key, _, setting = value.partition(" ")
                OAUTH[key] = setting
            elif name == "revoke":
                access.clear()
            return str(OAUTH.get(value, "")) if name == "get" else "ok"

    def offered():
        return ["PLAIN", "LOGIN"] + (["OAUTHBEARER"] if OAUTH["mechanisms"] == "xoauth2" else [])

    serve(folder, "starttls", certs, "good", server_class=TokenSmtp, exclude=offered, control=control,
          greeting="PORT %%d %d" % https.server_address[1])


def parse(path):
    with (sys.stdin.buffer if path == "-" else open(path, "rb")) as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    parts = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        info = {"charset": part.get_content_charset(), "filename": part.get_filename()}
        if part.get_content_maintype() == "text":
            info["text"] = part.get_content().replace("\r\n", "\n")
        else:
            info["data"] = base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii")
        parts.append(info)
    # The modern parser keeps the blank between two encoded words of a display name, which
    # RFC 2047 (6.2) says to drop; decode_header follows the RFC.
    names = email.message_from_bytes(raw)
    from_, to = (str(make_header(decode_header(names[key] or ""))) for key in ("From", "To"))
    # The first plain filename parameter, as a reader that knows no RFC 2231 reads it.
    plain = re.search(rb'[\s;]filename="([^"]*)"', raw)
    date = names["Date"] and email.utils.parsedate_to_datetime(names["Date"])
    json.dump({"subject": str(msg["Subject"]), "from": from_, "to": to,
               "date": date and date.timestamp(), "message_id": names["Message-ID"],
               "plain_filename": plain and str(make_header(decode_header(plain.group(1).decode("ascii")))),
               "parts": parts, "longest": max(len(line) for line in raw.split(b"\r\n")),
               "header_ascii": raw.split(b"\r\n\r\n")[0].isascii(),
               "defects": [type(d).__name__ for p in msg.walk() for d in p.defects]}, sys.stdout)


def certs(folder):
    def openssl(*args):
        subprocess.run(["openssl"] + list(args), cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def key(stem):
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", stem + ".key")

    for ca in ("ca", "rogue"):
        key(ca)
        openssl("req", "-x509", "-new", "-key", ca + ".key", "-subj", "/CN=kelvo test " + ca,
                "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-out", ca + ".pem")
    for stem, ca, names in (("good", "ca", "DNS:localhost,IP:127.0.0.1,IP:::1"),
                            ("other", "ca", "DNS:other.example"),
                            ("unknown", "rogue", "DNS:localhost,IP:127.0.0.1"),
                            ("cnonly", "ca", ""),
                            ("partial", "ca", "DNS:m*.kelvo.test")):
        key(stem)
        with open(os.path.join(folder, stem + ".ext"), "w") as f:
            f.write(("subjectAltName=%s\n" % names if names else "") + "extendedKeyUsage=serverAuth\n")
        openssl("req", "-new", "-key", stem + ".key", "-subj", "/CN=" + ("localhost" if stem == "cnonly" else stem),
                "-out", stem + ".csr")
        openssl("x509", "-req", "-in", stem + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                "-CAcreateserial", "-days", "2", "-extfile", stem + ".ext", "-out", stem + ".pem")


if __name__ == "__main__":
    if len(sys.argv) in (3, 6, 7) and sys.argv[1] == "serve":
        serve(*sys.argv[2:])
    elif len(sys.argv) == 4 and sys.argv[1] == "oauth":
        oauth(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "parse":
        parse(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "certs":
        certs(sys.argv[2])
    else:
        sys.exit(__doc__)
