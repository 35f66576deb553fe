#!/usr/bin/env python3
"""Cross-validates Debian's bogofilter on the folds that qortrain deals.

    bench/bogofilter_cv.py QORTRAIN K --ham DIR... --spam DIR...

qortrain --cv K --list-folds gives each message's fold; for each fold,
bogofilter (unpacked from Debian's bogofilter-bdb with dpkg -x into
build/bogofilter on first use) registers the other folds' messages and
scores this fold's. Prints, like qortrain --cv, each fold's false positives
and false negatives at bogofilter's own spam cutoff (0.99) and 1 - AUC of
its spamicity, then those of all folds.
"""
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOME = os.path.join(ROOT, "build", "bogofilter")
PACKAGES = ["bogofilter-bdb", "bogofilter-common", "libgsl27", "libgslcblas0"]


def fetch():
    done = os.path.join(HOME, ".done")
    if not os.path.exists(done):
        debs = os.path.join(HOME, "deb")
        os.makedirs(debs, exist_ok=True)
        subprocess.run(["apt-get", "download", "-q"] + PACKAGES, cwd=debs, check=True, stdout=subprocess.DEVNULL)
        for name in os.listdir(debs):
            subprocess.run(["dpkg", "-x", os.path.join(debs, name), os.path.join(HOME, "x")], check=True)
        open(done, "w").close()
    env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(HOME, "x/usr/lib/x86_64-linux-gnu"))
    return os.path.join(HOME, "x/usr/bin/bogofilter-bdb"), env


def one_minus_auc(scored):
    scored = sorted(scored)
    right = ham_below = spam_all = 0.0
    i = 0
    while i < len(scored):
        j, ham, spam = i, 0, 0
        while j < len(scored) and scored[j][0] == scored[i][0]:
            if scored[j][1] > 0:
                spam += 1
            else:
                ham += 1
            j += 1
        right += spam * (ham_below + 0.5 * ham)
        ham_below += ham
        spam_all += spam
        i = j
    pairs = spam_all * ham_below
    return 0.0 if pairs == 0 else 1.0 - right / pairs


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    qortrain, folds, rest = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    listing = subprocess.run([qortrain, "--quiet", "--cv", str(folds), "--list-folds"] + rest, check=True,
                             stdout=subprocess.PIPE, text=True).stdout
    messages = []
    for line in listing.splitlines():
        fold, label, path = line.split("\t", 2)
        messages.append((int(fold), 1 if label == "spam" else -1, path))
    bogo, env = fetch()
    print("fold  ham  spam  false-pos  false-neg  1-AUC")
    everything, fp_all, fn_all = [], 0, 0
    for f in range(folds):
        with tempfile.TemporaryDirectory() as db:
            for label, flag in ((-1, "-n"), (1, "-s")):
                names = "\n".join(p for (g, y, p) in messages if g != f and y == label) + "\n"
                subprocess.run([bogo, "-C", "-d", db, flag, "-b"], input=names, text=True, env=env, check=True)
            test = [(y, p) for (g, y, p) in messages if g == f]
            out = subprocess.run([bogo, "-C", "-d", db, "-T", "-b"], input="\n".join(p for _, p in test) + "\n",
                                 text=True, env=env, stdout=subprocess.PIPE).stdout
            scores = {}
            for line in out.splitlines():
                parts = line.rsplit(" ", 2)
                if len(parts) == 3:
                    scores[parts[0]] = (parts[1], float(parts[2]))
            scored, fp, fn = [], 0, 0
            for y, p in test:
                verdict, value = scores[p]
                scored.append((value, y))
                if y > 0 and verdict != "S":
                    fn += 1
                if y < 0 and verdict == "S":
                    fp += 1
            n_ham = sum(1 for y, _ in test if y < 0)
            print("%4d %4d %5d %10d %10d  %.5f" % (f, n_ham, len(test) - n_ham, fp, fn, one_minus_auc(scored)))
            everything += scored
            fp_all += fp
            fn_all += fn
    n_ham = sum(1 for (_, y, _) in messages if y < 0)
    print(" all %4d %5d %10d %10d  %.5f" % (n_ham, len(messages) - n_ham, fp_all, fn_all, one_minus_auc(everything)))


if __name__ == "__main__":
    main()
