"""Decodes each given file, taken as one MIME entity, with Python's email
package and prints the decoded payload in hexadecimal, one line per file."""
import email
import sys
from email import policy

for path in sys.argv[1:]:
    # From bytes, not a binary file: a file is read with line ends translated.
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=policy.compat32)
    payload = msg.get_payload(decode=True)
    print(payload.hex() if payload is not None else "NONE")
