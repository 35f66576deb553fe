"""Collects the RFC 2047 encoded words in the headers of real mail and decodes
each with Python's email.header.decode_header.

Usage: rfc2047_oracle.py CORPORA

Reads the training half of the SpamAssassin corpus (CORPORA/spamassassin/
train/GROUP/*), Python's own test messages (CORPORA/python-email/*) and Go
enmime's malformed ones (CORPORA/enmime/**), never the held-out half. Every header block of every message (the top level and
every MIME part) is read; a header value is unfolded and taken as Latin-1
text, so each character stands for one byte. Words are found with Python's
own pattern (email.header.ecre). Output, one record per line:

  W <word hex> ok <decoded hex> <charset hex> a distinct word and its decoding
  W <word hex> error - -                     decode_header raised
  H <value hex> <word hex>,<word hex>,...    a header value and its words
  C ...                                      as W, for a crafted word

The crafted words are a fixed list of malformed words and, with a fixed
seed, mutations of the real ones (one byte inserted or deleted) that Python's
pattern still takes as whole words. An empty decoding or charset is "-".
"""
import email
import email.errors
import email.header
import os
import random
import re
import sys
from email import policy

FOLD = re.compile(r'\r?\n(?=[ \t])')


def message_files(root):
    train = os.path.join(root, 'spamassassin', 'train')
    for group in sorted(os.listdir(train)):
        folder = os.path.join(train, group)
        for name in sorted(os.listdir(folder)):
            yield os.path.join(folder, name)
    python_email = os.path.join(root, 'python-email')
    for name in sorted(os.listdir(python_email)):
        path = os.path.join(python_email, name)
        if os.path.isfile(path) and not name.startswith('.'):
            yield path
    for folder, _, names in sorted(os.walk(os.path.join(root, 'enmime'))):
        for name in sorted(names):
            if not name.startswith('.'):
                yield os.path.join(folder, name)


def header_values(data):
    msg = email.message_from_bytes(data, policy=policy.compat32)
    for part in msg.walk():
        for _, value in part.items():
            if not isinstance(value, str):
                continue
            raw = value.encode('ascii', 'surrogateescape').decode('latin-1')
            yield FOLD.sub('', raw)


def decode(word):
    try:
        pieces = email.header.decode_header(word)
    except (email.errors.HeaderParseError, ValueError, LookupError):
        return None
    data = b''
    charset = None
    for piece, piece_charset in pieces:
        if isinstance(piece, str):
            piece = piece.encode('latin-1')
        data += piece
        charset = piece_charset
    return data, charset


CRAFTED = [
    '=?utf-8?q?a?b?=', '=?utf 8?q?x?=', '=?iso-8859-1?q?caf\xe9?=', '=?utf-8?q?a=3G?=',
    '=?utf-8?q?a=3?=', '=?utf-8?q?a=?=', '=?utf-8?q?tab\there?=', '=?utf-8?q?a b?=',
    '=?utf-8?b?QUJD=REVG?=', '=?utf-8?b?QUJ?=', '=?utf-8?b?Q?=', '=?utf-8?b?QU*JD?=',
    '=?utf-8?b?QU JD?=', '=?utf-8?b?QUJDRA?=', '=?utf-8?b?=QUJD?=', '=?utf-8*en?q?x?=',
    '=??q?x?=', '=?utf-8?q??=', '=?utf-8?b??=', '=?UTF-8?Q?a_b=5F?=', '=?x?B?w6k=?=',
    '=?utf-8?Q?=E2=98=86?=', '=?utf-8?q?=e2=98=86?=', '=?a?q?=3D=3Fa=3FQ=3Fy=3F=3D?=',
]

FUZZ = ' ?=\t*\xe9_.'


def crafted_words(real):
    words = list(CRAFTED)
    rng = random.Random(2047)
    pool = sorted(real) or ['=?utf-8?q?x?=']
    while len(words) < 300:
        word = rng.choice(pool)
        at = rng.randrange(len(word) + 1)
        if rng.random() < 0.7:
            word = word[:at] + rng.choice(FUZZ) + word[at:]
        else:
            word = word[:at] + word[at + 1:]
        m = email.header.ecre.search(word)
        if m and m.group(0) == word and word not in words:
            words.append(word)
    return words


def write_word(out, tag, word):
    result = decode(word)
    hexword = word.encode('latin-1').hex()
    if result is None:
        out.write('%s %s error - -\n' % (tag, hexword))
    else:
        charset = (result[1] or '').encode('latin-1').hex()
        out.write('%s %s ok %s %s\n' % (tag, hexword, result[0].hex() or '-', charset or '-'))


def main():
    root = sys.argv[1]
    seen = set()
    out = sys.stdout
    for path in message_files(root):
        with open(path, 'rb') as f:
            data = f.read()
        for value in header_values(data):
            words = [m.group(0) for m in email.header.ecre.finditer(value)]
            if not words:
                continue
            out.write('H %s %s\n' % (value.encode('latin-1').hex(),
                                     ','.join(w.encode('latin-1').hex() for w in words)))
            for word in words:
                if word in seen:
                    continue
                seen.add(word)
                write_word(out, 'W', word)
    for word in crafted_words(seen):
        if word not in seen:
            write_word(out, 'C', word)


if __name__ == '__main__':
    main()
