#!/usr/bin/env bash
# Unpacks Debian's libsvm command-line tools and their library into DIR (with
# dpkg -x, so the tools' GUI dependencies are not installed) for the SMO
# comparison tests, and prints the folder holding svm-train. Quick when done.
#
#   bin=$(bash tests/engine/classify/fetch-libsvm.sh build/normal/libsvm)
#   LD_LIBRARY_PATH=build/normal/libsvm/lib "$bin/svm-train" -t 0 data model
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
exec 9>"$dir/.lock"
flock 9
if [ ! -f "$dir/.done" ]; then
  rm -rf "$dir/deb" "$dir/x" && mkdir -p "$dir/deb"
  (cd "$dir/deb" && apt-get download -q libsvm-tools libsvm3 >/dev/null 2>&1)
  for deb in "$dir"/deb/*.deb; do dpkg -x "$deb" "$dir/x"; done
  rm -rf "$dir/deb" "$dir/lib"
  mkdir -p "$dir/lib"
  find "$dir/x" -name 'libsvm.so*' -exec cp -P {} "$dir/lib/" \;
  [ -x "$dir/x/usr/bin/svm-train" ] || { echo "fetch-libsvm: no svm-train in libsvm-tools" >&2; exit 1; }
  touch "$dir/.done"
fi
echo "$dir/x/usr/bin"
