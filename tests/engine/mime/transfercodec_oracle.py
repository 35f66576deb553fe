"""Decodes base64, quoted-printable and uuencoded inputs with Python's
binascii (the functions behind the base64, quopri and uu modules), as the
oracle for the engine's stream decoder.

Usage: transfercodec_oracle.py [CORPORA]

Inputs: random data encoded by Python's own encoders, then roughened the
way mail is (line endings, white space, junk); and, when CORPORA is given,
the base64, quoted-printable and uuencoded bodies of the training half of
the SpamAssassin corpus (CORPORA/spamassassin/train/GROUP/*), never the
held-out half.

Where the engine follows a rule that binascii does not apply, the input is
first brought into the form that rule gives, and binascii decodes that
("canonical"); the rules that changed the input are listed. Output, one
record per line, fields separated by a blank:

  SOURCE ENCODING RULES INPUT RAW CANONICAL

SOURCE is G (generated) or R (real); ENCODING b64, qp or uu; RULES a comma
list or "-"; INPUT the input, RAW binascii's decoding of the input as it is
("!" when binascii refuses it) and CANONICAL the decoding of the canonical
form, all in hex ("-" for nothing).

The rules:
  b64  after-pad     data after the first "=" that follows data (the
                     engine stops there)
       lone-char     a last group of one character (the engine drops it)
       unpadded      a last group of 2 or 3 characters without "=" (the
                     engine decodes it; binascii wants the padding)
  qp   trailing-ws   white space before a line break or at the end (dropped:
                     RFC 2045 6.7 (3))
       soft-ws       white space between "=" and a line break (still a soft
                     break)
       cr-soft       "=" and a lone CR (a soft break; binascii skips to the
                     next LF)
       dot-stuffing  a line that begins with ".." (one dot dropped), and a
                     lone "." ending the data (dropped)
       bad-escape    "==" or "=" with one hex digit before another "=": the
                     engine keeps the second "=" as text, binascii takes it
                     as the start of the next escape. Not canonicalised:
                     these records are compared with RAW only for the report.
  uu   (the canonical form is the data lines alone, decoded one by one; the
       generator adds "begin" and "end" lines and text lines the engine
       skips)
"""
import binascii
import email
import os
import random
import re
import sys
from email import policy

B64_ALPHABET = set(b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/')


def hexof(data):
    return data.hex() if data else '-'


def b64_canonical(data):
    rules = []
    chars = bytearray()
    seen_pad = False
    for c in data:
        if c in B64_ALPHABET:
            if seen_pad:
                rules.append('after-pad')
                break
            chars.append(c)
        elif c == ord('=') and chars:
            seen_pad = True
    n = len(chars)
    if n % 4 == 1:
        rules.append('lone-char')
        del chars[-1]
    elif n % 4:
        if not seen_pad:
            rules.append('unpadded')
        chars += b'=' * (4 - n % 4)
    return bytes(chars), rules


LINE = re.compile(rb'([^\r\n]*)(\r\n|\n|\r|$)')
HEX = b'0123456789ABCDEFabcdef'


def qp_bad_escape(content):
    i = 0
    while i < len(content):
        if content[i:i + 1] == b'=':
            nxt = content[i + 1:i + 2]
            if nxt == b'=':
                return True
            if nxt and nxt in HEX and content[i + 2:i + 3] == b'=':
                return True
            if nxt and nxt in HEX and content[i + 2:i + 3] and content[i + 2:i + 3] in HEX:
                i += 3
                continue
        i += 1
    return False


def qp_canonical(data):
    rules = set()
    out = bytearray()
    pos = 0
    while pos < len(data):
        m = LINE.match(data, pos)
        content, term = m.group(1), m.group(2)
        pos = m.end()
        last = pos >= len(data)
        if last and not term and content == b'.':
            rules.add('dot-stuffing')
            break
        if content.startswith(b'..'):
            rules.add('dot-stuffing')
            content = content[1:]
        stripped = content.rstrip(b' \t')
        if stripped != content:
            rules.add('soft-ws' if stripped.endswith(b'=') and (term or not last) else 'trailing-ws')
        content = stripped
        if qp_bad_escape(content):
            rules.add('bad-escape')
        if content.endswith(b'=') and term == b'\r':
            rules.add('cr-soft')
            term = b'\n'
        out += content + term
        if not term:
            break
    return bytes(out), sorted(rules)


def record(source, encoding, rules, data, raw, canonical):
    print(source, encoding, ','.join(rules) or '-', hexof(data),
          '!' if raw is None else hexof(raw), hexof(canonical))


def try_decode(fn, data):
    try:
        return fn(data)
    except (binascii.Error, ValueError):
        return None


def emit_b64(source, data):
    canonical, rules = b64_canonical(data)
    record(source, 'b64', rules, data, try_decode(binascii.a2b_base64, data),
           binascii.a2b_base64(canonical))


def emit_qp(source, data):
    canonical, rules = qp_canonical(data)
    record(source, 'qp', rules, data, binascii.a2b_qp(data), binascii.a2b_qp(canonical))


def random_bytes(rng, n, texty):
    if texty:
        alphabet = b'abcdefghij KLM.=\t\r\n\x80\xe9-_'
        return bytes(rng.choice(alphabet) for _ in range(n))
    return bytes(rng.getrandbits(8) for _ in range(n))


def roughen_b64(rng, text):
    """Line endings, white space and junk, as mail bodies carry them."""
    if rng.random() < 0.5:
        text = text.replace(b'\n', b'\r\n')
    out = bytearray()
    for c in text:
        if rng.random() < 0.02:
            out += rng.choice([b' ', b'\t', b'\r\n', b'!', b'*', b'\x80', b'\xff', b'-'])
        out.append(c)
    if rng.random() < 0.2:
        out[:0] = b'=' * rng.randint(1, 3)
    if rng.random() < 0.2:
        out += b'=' + bytes(rng.choice(b'QUJDREVG') for _ in range(rng.randint(1, 8)))
    if rng.random() < 0.3 and len(out) > 2:
        del out[rng.randrange(len(out)):]
    return bytes(out)


def roughen_qp(rng, text):
    if rng.random() < 0.5:
        text = text.replace(b'\n', b'\r\n')
    lines = re.split(rb'(\r\n|\n)', text)
    out = bytearray()
    for piece in lines:
        if piece in (b'\r\n', b'\n'):
            if rng.random() < 0.2:
                out += rng.choice([b' ', b'\t', b'  \t'])  # transport padding
            out += piece
            continue
        if rng.random() < 0.05:
            out += b'.'  # a stuffed dot
        if piece.endswith(b'=') and rng.random() < 0.3:
            piece += b' '
        out += piece
    if rng.random() < 0.1:
        out += b' '
    if rng.random() < 0.2:
        at = rng.randrange(len(out) + 1)
        out[at:at] = rng.choice([b'=G', b'=4x', b'=\r', b'= x', b'=.', b'=4\r\n', b'=='])
    return bytes(out)


def generated(rng):
    sizes = [0, 1, 2, 3, 4, 45, 57, 76, 100, 1000, 3000, 40000]
    for size in sizes:
        for texty in (False, True):
            for _ in range(6 if size < 10000 else 1):
                data = random_bytes(rng, size, texty)
                enc = binascii.b2a_base64(data, newline=False)
                lined = b''.join(binascii.b2a_base64(data[i:i + 57]) for i in range(0, len(data), 57))
                emit_b64('G', enc)
                emit_b64('G', lined)
                emit_b64('G', roughen_b64(rng, lined))
                qp = binascii.b2a_qp(data, quotetabs=rng.random() < 0.5, istext=texty)
                emit_qp('G', qp)
                emit_qp('G', roughen_qp(rng, qp))
                emit_uu(rng, data)


def emit_uu(rng, data):
    lines = []
    expected = b''
    at = 0
    while at < len(data):
        n = rng.randint(1, 45)
        chunk = data[at:at + n]
        at += n
        lines.append(binascii.b2a_uu(chunk, backtick=True).rstrip(b'\n'))
        expected += binascii.a2b_uu(lines[-1])
        if rng.random() < 0.05:
            lines.append(rng.choice([b'', b'hello world', b' indented text', b'\tx']))
    lines.append(b'`')
    eol = rng.choice([b'\n', b'\r\n'])
    text = eol.join(lines) + eol
    rules = []
    if rng.random() < 0.5:
        text = b'begin 644 file.bin' + eol + text + b'end' + eol
        rules.append('framed')
    record('G', 'uu', rules, text, None, expected)


def real_bodies(corpora):
    train = os.path.join(corpora, 'spamassassin', 'train')
    for group in sorted(os.listdir(train)):
        folder = os.path.join(train, group)
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), 'rb') as f:
                raw = f.read()
            msg = email.message_from_bytes(raw, policy=policy.compat32)
            for part in msg.walk():
                if part.is_multipart():
                    continue
                cte = str(part.get('Content-Transfer-Encoding', '')).strip().lower()
                payload = part.get_payload()
                if cte not in ('base64', 'quoted-printable') or not isinstance(payload, str):
                    continue
                try:
                    body = payload.encode('ascii', 'surrogateescape')
                except UnicodeEncodeError:
                    body = payload.encode('latin-1', 'surrogateescape')
                if cte == 'base64':
                    emit_b64('R', body)
                elif cte == 'quoted-printable':
                    emit_qp('R', body)
            # Uuencoded blocks anywhere in the text.
            for m in re.finditer(rb'^begin [0-7]{3,4} [^\r\n]+\r?\n(.*?)^end\r?$', raw, re.S | re.M):
                block = m.group(0)
                expected = b''
                for line in m.group(1).splitlines():
                    if line and line != b'`':
                        expected += binascii.a2b_uu(line)
                record('R', 'uu', ['framed'], block, None, expected)


def main():
    rng = random.Random(20261210)
    generated(rng)
    if len(sys.argv) > 1:
        real_bodies(sys.argv[1])
    return 0


if __name__ == '__main__':
    sys.exit(main())
