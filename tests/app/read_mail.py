#!/usr/bin/python3
"""Test helper: reads one mail from its standard input as a mail program would, with
Python's email package and its modern policy (encoded words and charsets decoded), and
prints it as JSON, with the length of the longest line of the raw message."""
import base64
import email
import email.policy
import json
import re
import sys
from email.header import decode_header, make_header

raw = sys.stdin.buffer.read()
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
json.dump({"subject": str(msg["Subject"]), "from": from_, "to": to,
           "plain_filename": plain and str(make_header(decode_header(plain.group(1).decode("ascii")))),
           "parts": parts, "longest": max(len(line) for line in raw.split(b"\r\n")),
           "header_ascii": raw.split(b"\r\n\r\n")[0].isascii(),
           "defects": [type(d).__name__ for p in msg.walk() for d in p.defects]}, sys.stdout)
