#!/usr/bin/env python3
"""The leaves of real messages as Python's email package parses them.

Argument: a folder of message files ("*.txt", sorted by name). Only the
messages that Python reads without any defect (no part with an entry in
its defects list) are printed; the malformed ones have no agreed reading.
For each of them:
    M <path>
    L <media type> <decoded payload>       one line per leaf, in tree order
texts as hex ("-" when empty). A leaf is a part that is not multipart and
not an encapsulated message (message/rfc822 and the like are walked into);
message/delivery-status, which Python splits into header blocks, counts as
one leaf whose payload is not compared ("*").
The message is read with message_from_bytes, which keeps the line ends as
they are (the binary-file reader turns CR LF into LF); the payload is
get_payload(decode=True): base64, quoted-printable and uuencode decoded,
anything else the body bytes as they stand.
"""
import email
import email.policy
import os
import sys


def hexed(data):
    return data.hex() or "-"


def leaves(part, out):
    media_type = part.get_content_type()
    if part.is_multipart() and media_type != "message/delivery-status":
        for child in part.get_payload():
            leaves(child, out)
    elif part.is_multipart():
        out.append((media_type, None))
    else:
        out.append((media_type, part.get_payload(decode=True) or b""))


def main():
    folder = sys.argv[1]
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".txt") or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            message = email.message_from_bytes(f.read(), policy=email.policy.compat32)
        if any(part.defects for part in message.walk()):
            continue
        found = []
        leaves(message, found)
        print("M " + hexed(path.encode("utf-8", "surrogateescape")))
        for media_type, payload in found:
            print("L %s %s" % (hexed(media_type.encode()), "*" if payload is None else hexed(payload)))


if __name__ == "__main__":
    main()
