#!/usr/bin/env python3
"""Peak memory of one spam test against the message's size.

    bench/spamtest_memory.py QORHOST DATA_DIR [--sizes 20,50,100] [--kinds text,html,oneline,base64]
                             [--form file|memory]

For each body kind and size (MiB) a message is written to a temporary folder
and spam-tested by a fresh QORHOST process (normally build/normal/bin/qorhost;
DATA_DIR holds "SieveCatalog.xml" and, when there is one, the model), from
the file ("file", QorEngineSpamTestFile) or from memory (a one-message
mailbox, QorEngineSpamTestMemory; qorhost's own copy of the bytes counts).
The peak resident set of that child (getrusage, ru_maxrss) is printed with
the peak of the same program on a one-line message (the fixed amount) and
the ratio of what lies above that to the message's size. Messages are
written by a process of their own, as a child's peak includes the memory of
the process it was forked from. Not a timed test.
"""
import argparse
import os
import random
import resource
import subprocess
import sys
import tempfile

WORDS = ("the quick brown fox jumps over a lazy dog offer money cheap pills click here order today best "
         "year meeting report project friday lunch thanks regards").split()


def words(rng, size, line_length):
    """Text of about size bytes in lines of line_length (0: one line)."""
    out = []
    total = 0
    line = []
    line_size = 0
    while total + line_size < size:
        w = rng.choice(WORDS)
        line.append(w)
        line_size += len(w) + 1
        if line_length and line_size >= line_length:
            out.append(" ".join(line) + "\n")
            total += line_size
            line, line_size = [], 0
    if line:
        out.append(" ".join(line) + "\n")
    return "".join(out)


def message(kind, size, rng):
    head = "From: a@example.org\nTo: b@example.org\nSubject: memory\nMIME-Version: 1.0\n"
    if kind == "text":
        return head + "Content-Type: text/plain\n\n" + words(rng, size, 72)
    if kind == "oneline":
        return head + "Content-Type: text/plain\n\n" + words(rng, size, 0)
    if kind == "html":
        body = words(rng, size, 72).replace("\n", "</p>\n<p>")
        return head + "Content-Type: text/html\n\n<html><body><p>" + body + "</p></body></html>\n"
    if kind == "base64":
        import base64
        raw = rng.randbytes(size * 3 // 4) if hasattr(rng, "randbytes") else os.urandom(size * 3 // 4)
        enc = base64.encodebytes(raw).decode()
        return (head + "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nsee the file\n"
                "--b\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n" + enc + "--b--\n")
    raise SystemExit("unknown kind: " + kind)


def peak_kib(qorhost, data, path):
    """ru_maxrss (KiB) of one qorhost child over path."""
    proc = subprocess.Popen([qorhost, "--data", data, path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = proc.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    proc.stdout.close()
    if status != 0:
        sys.stderr.write(out)
    return usage.ru_maxrss


def write_message(kind, size, path, form):
    """Writes one message; runs in a process of its own (see main)."""
    with open(path, "w") as f:
        if form == "memory":
            f.write("From bench Mon Jan  1 00:00:00 2024\n")
        f.write(message(kind, size, random.Random(size)))


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--write":
        write_message(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
        return
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("qorhost")
    ap.add_argument("data")
    ap.add_argument("--sizes", default="20,50,100")
    ap.add_argument("--kinds", default="text,html,oneline,base64")
    ap.add_argument("--form", choices=("file", "memory"), default="file")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        # A child's peak counts the memory of the process it was forked
        # from, so this one never holds a message: a process of its own
        # writes each.
        def write(name, kind, size):
            path = os.path.join(tmp, name)
            subprocess.run([sys.executable, os.path.abspath(__file__), "--write", kind, str(size), path, args.form],
                           check=True)
            return path
        base = peak_kib(args.qorhost, args.data, write("small.eml", "text", 100)) / 1024
        print("fixed: %.1f MiB (a one-line message), form %s" % (base, args.form))
        print("%-8s %9s %11s %8s" % ("kind", "size MiB", "peak MiB", "ratio"))
        for kind in args.kinds.split(","):
            for mib in (int(s) for s in args.sizes.split(",")):
                path = write("%s%d.eml" % (kind, mib), kind, mib << 20)
                size = os.path.getsize(path) / (1 << 20)
                peak = peak_kib(args.qorhost, args.data, path) / 1024
                os.unlink(path)
                print("%-8s %9.1f %11.1f %8.2f" % (kind, size, peak, (peak - base) / size))
                sys.stdout.flush()


if __name__ == "__main__":
    main()
