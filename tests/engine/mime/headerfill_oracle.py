#!/usr/bin/env python3
"""Header values of real mail as Python's email package reads them.

Arguments: folders, read recursively (files sorted by path). One line per
file, fields separated by blanks,
texts as hex ("-" when empty):
    <path> <Message-ID> <Content-Type count> <media type> <boundary>
           <Subject count> <Subject> <From addresses joined by ",">
The Message-ID and Subject are the first field's raw value (8-bit bytes
as they stand), unfolded
(a line break and the blank after it removed) and right-trimmed; the media type is get_content_type() (lower case),
the boundary get_boundary(); addresses are those getaddresses() finds in
all From fields.
"""
import email
import email.policy
import email.utils
import os
import re
import sys


def hexed(text):
    if text is None:
        return "-"
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogateescape")
    return text.hex() or "-"


def unfold(value):
    if value is None:
        return None
    return re.sub(r"[\r\n]+[ \t]?", "", str(value)).rstrip()


def files(folders):
    found = []
    for folder in folders:
        for root, _, names in os.walk(folder, followlinks=True):
            found.extend(os.path.join(root, n) for n in names)
    return sorted(p for p in found if os.path.isfile(p))


def main():
    for path in files(sys.argv[1:]):
        with open(path, "rb") as f:
            message = email.message_from_binary_file(f, policy=email.policy.compat32)
        # The raw values: 8-bit bytes stay as they were (surrogate escapes).
        raw = {}
        for name, value in message.raw_items():
            raw.setdefault(name.lower(), []).append(value)
        ids = raw.get("message-id", [])
        types = raw.get("content-type", [])
        subjects = raw.get("subject", [])
        froms = [unfold(v) for v in raw.get("from", [])]
        addresses = ",".join(a for _, a in email.utils.getaddresses(froms) if a)
        print(" ".join([
            hexed(path),
            hexed(unfold(ids[0]) if ids else None),
            str(len(types)),
            hexed(message.get_content_type()),
            hexed(message.get_boundary()),
            str(len(subjects)),
            hexed(unfold(subjects[0]) if subjects else None),
            hexed(addresses),
        ]))


if __name__ == "__main__":
    main()
