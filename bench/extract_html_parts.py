#!/usr/bin/env python3
"""Extracts the text/html parts of the SpamAssassin training half into a cache
folder, one decoded part per file, and prints the folder.

    bash tools/fetch-corpora.sh >/dev/null
    python3 bench/extract_html_parts.py      # -> $QOR_CORPORA/html-parts/train

Only spamassassin/train is read (never the held-out half). Parts are taken
with Python's email package, transfer-decoded, charset left as it is.
Quick when the folder is already there.
"""
import email
import email.policy
import os
import sys

corpora = os.environ.get("QOR_CORPORA", os.path.expanduser("~/.cache/telsor-corpora"))
train = os.path.join(corpora, "spamassassin", "train")
out = os.path.join(corpora, "html-parts", "train")
done = os.path.join(out, ".done")
if not os.path.isdir(train):
    sys.exit("no %s: run tools/fetch-corpora.sh first" % train)
if not os.path.exists(done):
    os.makedirs(out, exist_ok=True)
    n = 0
    for group in sorted(os.listdir(train)):
        folder = os.path.join(train, group)
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                msg = email.message_from_binary_file(f, policy=email.policy.compat32)
            for i, part in enumerate(msg.walk()):
                if part.get_content_type() != "text/html":
                    continue
                body = part.get_payload(decode=True)
                if not body:
                    continue
                n += 1
                target = os.path.join(out, "%s-%s-%d.html" % (group, os.path.splitext(name)[0], i))
                with open(target, "wb") as f:
                    f.write(body)
    open(done, "w").write("%d\n" % n)
print(out)
