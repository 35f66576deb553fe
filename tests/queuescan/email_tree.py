"""Prints the MIME tree of each given message file as Python's email package
sees it, one line per part, depth first:
    DEPTH TYPE PAYLOAD
PAYLOAD is the decoded body in hexadecimal for a leaf, "subject:" and the
embedded message's Subject header (hexadecimal) for message/rfc822, and "-"
for a multipart. With --text-lf, CR LF in text/* payloads counts as LF.
Files are separated by a line holding "=="."""
import email
import sys
from email import policy


def walk(msg, depth, text_lf, out):
    ctype = msg.get_content_type()
    if msg.is_multipart() and ctype.startswith("message/"):
        inner = msg.get_payload(0)
        out.append(f"{depth} {ctype} subject:{(inner.get('Subject') or '').encode().hex()}")
        walk(inner, depth + 1, text_lf, out)
    elif msg.is_multipart():
        out.append(f"{depth} {ctype} -")
        for part in msg.get_payload():
            walk(part, depth + 1, text_lf, out)
    else:
        payload = msg.get_payload(decode=True) or b""
        if text_lf and ctype.startswith("text/"):
            payload = payload.replace(b"\r\n", b"\n")
        out.append(f"{depth} {ctype} {payload.hex()}")


text_lf = "--text-lf" in sys.argv
for i, path in enumerate(p for p in sys.argv[1:] if p != "--text-lf"):
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=policy.compat32)
    lines = []
    walk(msg, 0, text_lf, lines)
    if i:
        print("==")
    print("\n".join(lines))
