#!/usr/bin/env python3
"""Reads a composed message with Python's email package and prints its tree.

One line per entity, in pre-order (email.message.Message.walk order):
    <depth> <content type> <filename or -> <payload as hex or ->
The payload is the transfer-decoded body of a leaf entity; multiparts and
message/rfc822 entities (whose payload is a list) print "-". An entity that
Python flags with defects gets a line "defect <depth> <class names>".
"""
import email
import email.policy
import sys


def walk(part, depth, out):
    filename = part.get_filename() or "-"
    if part.is_multipart():
        payload = "-"
    else:
        data = part.get_payload(decode=True) or b""
        payload = data.hex() or "-"
    out.append("%d %s %s %s" % (depth, part.get_content_type(), filename.replace(" ", "_"), payload))
    if part.defects:
        out.append("defect %d %s" % (depth, ",".join(type(d).__name__ for d in part.defects)))
    if part.is_multipart():
        for child in part.get_payload():
            walk(child, depth + 1, out)


def main():
    with open(sys.argv[1], "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    out = []
    walk(message, 0, out)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
