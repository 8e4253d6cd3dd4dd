#!/usr/bin/python3
"""Test helper: a real SMTP server that keeps what it receives, and a MIME reader.

  smtp_sink.py serve DIR   listen on a free port of 127.0.0.1, print "PORT <n>", and
                           write every message received as DIR/<n>.eml (raw bytes)
                           and DIR/<n>.json (envelope sender and recipients); ends
                           when its standard input closes.
  smtp_sink.py parse FILE  print the message in FILE as JSON, read by Python's email
                           package: headers, parts, decoded part bytes (base64).
"""
import asyncio
import base64
import email
import json
import os
import sys


def serve(folder):
    from aiosmtpd.smtp import SMTP

    class Keeper:
        def __init__(self):
            self.count = 0

        async def handle_DATA(self, server, session, envelope):
            self.count += 1
            stem = os.path.join(folder, "%d" % self.count)
            with open(stem + ".eml", "wb") as f:
                f.write(envelope.original_content)
            info = {"from": envelope.mail_from, "rcpt": list(envelope.rcpt_tos),
                    "helo": session.host_name}
            # The .json file appears last and whole: a reader that sees it sees both.
            with open(stem + ".tmp", "w") as f:
                json.dump(info, f)
            os.replace(stem + ".tmp", stem + ".json")
            return "250 Message accepted for delivery"

    keeper = Keeper()
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(keeper, hostname="sink.local", decode_data=False,
                     data_size_limit=64 * 1024 * 1024),
        "127.0.0.1", 0))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)

    stdin_closed = loop.create_future()
    loop.add_reader(sys.stdin.fileno(),
                    lambda: (os.read(sys.stdin.fileno(), 4096) or
                             stdin_closed.done() or stdin_closed.set_result(True)))
    loop.run_until_complete(stdin_closed)
    server.close()


def parse(path):
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read())

    def part_info(p):
        payload = None if p.is_multipart() else p.get_payload(decode=True)
        return {
            "content_type": p.get_content_type(),
            "charset": p.get_content_charset(),
            "filename": p.get_filename(),
            "disposition": p.get_content_disposition(),
            "data": base64.b64encode(payload or b"").decode("ascii"),
            "defects": [type(d).__name__ for d in p.defects],
        }

    out = {
        "headers": [[k, str(v)] for k, v in msg.items()],
        "multipart": msg.is_multipart(),
        "boundary": msg.get_boundary(),
        "content_type": msg.get_content_type(),
        "defects": [type(d).__name__ for d in msg.defects],
        "parts": [part_info(p) for p in msg.walk() if not p.is_multipart()],
    }
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "serve":
        serve(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "parse":
        parse(sys.argv[2])
    else:
        sys.exit(__doc__)
