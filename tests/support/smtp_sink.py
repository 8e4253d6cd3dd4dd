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


def serve(folder, mode="plain", certs=None, name=None, host="127.0.0.1"):
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
                    "auth": login.decode("utf-8") if isinstance(login, bytes) else login}
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
        lambda: SMTP(keeper, hostname="sink.local", decode_data=False,
                     data_size_limit=64 * 1024 * 1024, **options),
        host, 0, ssl=context if mode == "tls" else None))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)

    stdin_closed = loop.create_future()
    loop.add_reader(sys.stdin.fileno(),
                    lambda: (os.read(sys.stdin.fileno(), 4096) or
                             stdin_closed.done() or stdin_closed.set_result(True)))
    loop.run_until_complete(stdin_closed)
    server.close()


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
    elif len(sys.argv) == 3 and sys.argv[1] == "parse":
        parse(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "certs":
        certs(sys.argv[2])
    else:
        sys.exit(__doc__)
