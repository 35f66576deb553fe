#!/usr/bin/env python3
"""Messages per second of the engine's exported spam test against bogofilter.

    bench/spamtest_bench.py QORHOST MODEL_DIR

One mailbox is made of the SpamAssassin corpus's training half (the five
groups under $QOR_CORPORA/spamassassin/train, files in name order). qorhost
spam-tests every message of it through QorEngineSpamTestMemory in one
process, with the model in MODEL_DIR (trained by qortrain on the same half,
as tools/run-main.sh does). Debian's bogofilter (unpacked as
bench/bogofilter_cv.py does) registers the same half's ham and spam, then
classifies the same mailbox with -v -M in one process. Each program runs
three times and its fastest run counts. Prints, for each, messages, wall
seconds and messages per second (whole process, start-up and model loading
included; for qorhost also the rate inside its calls), and the ratio of the
two whole-process rates.

QORHOST is normally build/normal/bin/qorhost: the normal build is
RelWithDebInfo (-O2 -g -DNDEBUG), an optimised build, and its engine library
is what qorhost loads (../lib beside the program). A Release build (-O3,
cmake -DCMAKE_BUILD_TYPE=Release) measures the same within noise. qorhost
reads a mailbox a piece at a time into one buffer, as bogofilter reads its
input, and spam-tests each message from memory. Rates of runs made at
different times on a shared machine differ with its load; the ratio of the
two programs, timed one after the other in the same run, is what to
compare (the load average is printed with it).
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bogofilter_cv import fetch  # noqa: E402

GROUPS = {"easy-ham-1": "-n", "easy-ham-2": "-n", "hard-ham-1": "-n", "spam-1": "-s", "spam-2": "-s"}


def files_of(train):
    out = []
    for group, flag in GROUPS.items():
        folder = os.path.join(train, group)
        out += [(flag, os.path.join(folder, n)) for n in sorted(os.listdir(folder)) if not n.startswith(".")]
    return out


def write_mailbox(paths, target):
    with open(target, "wb") as box:
        for path in paths:
            data = open(path, "rb").read().replace(b"\r\n", b"\n")
            box.write(b"From bench@localhost Thu Jan  1 00:00:00 1970\n")
            for line in data.split(b"\n"):
                box.write((b">" + line if line.startswith(b"From ") else line) + b"\n")


def timed(cmd, rounds=3, **kw):
    """The fastest of a few runs: its seconds and its output."""
    best = None
    for _ in range(rounds):
        start = time.monotonic()
        done = subprocess.run(cmd, stdout=subprocess.PIPE, text=True, **kw)
        seconds = time.monotonic() - start
        if best is None or seconds < best[0]:
            best = (seconds, done.stdout)
    return best


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    qorhost, model = sys.argv[1], sys.argv[2]
    corpora = os.environ.get("QOR_CORPORA") or subprocess.run(
        ["bash", os.path.join(os.path.dirname(__file__), "..", "tools", "fetch-corpora.sh")],
        stdout=subprocess.PIPE, text=True, check=True).stdout.strip()
    files = files_of(os.path.join(corpora, "spamassassin", "train"))
    bogo, env = fetch()
    with tempfile.TemporaryDirectory() as work:
        box = os.path.join(work, "train.mbox")
        write_mailbox([p for _, p in files], box)
        seconds, out = timed([qorhost, "--data", model, box])
        lines = [l for l in out.splitlines() if l.startswith(box + "#")]
        failed = sum(" error " in l for l in lines)
        inside = next((l for l in out.splitlines() if l.endswith("messages/s")), "")
        db = os.path.join(work, "bogo")
        os.makedirs(db)
        for flag in ("-n", "-s"):
            names = "\n".join(p for f, p in files if f == flag) + "\n"
            subprocess.run([bogo, "-C", "-d", db, flag, "-b"], input=names, text=True, env=env, check=True)
        bogo_seconds, bogo_out = timed([bogo, "-C", "-d", db, "-v", "-M", "-I", box], env=env)
        bogo_count = sum(l.startswith("X-Bogosity:") for l in bogo_out.splitlines())
    qor_rate = len(lines) / seconds
    bogo_rate = bogo_count / bogo_seconds
    print("program     messages  failed  seconds  messages/s")
    print("qorhost     %8d  %6d  %7.2f  %10.1f   (%s)" % (len(lines), failed, seconds, qor_rate, inside))
    print("bogofilter  %8d  %6s  %7.2f  %10.1f" % (bogo_count, "-", bogo_seconds, bogo_rate))
    print("ratio qorhost / bogofilter: %.2f" % (qor_rate / bogo_rate if bogo_rate else 0.0))
    print("load average: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))


if __name__ == "__main__":
    main()
