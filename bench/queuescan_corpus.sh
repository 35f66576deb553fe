#!/usr/bin/env bash
# Whole-program timing of queuescan over real mail: every message of the
# given folders goes through the unchanged program, as qmail would hand it
# over, with a queue program made of `cat`; or, for the yardstick, straight
# to that same queue program without the filter.
#
#   bash bench/queuescan_corpus.sh build/normal/bin filter  "$QOR_CORPORA"/spamassassin/train/*
#   bash bench/queuescan_corpus.sh build/normal/bin direct  "$QOR_CORPORA"/spamassassin/train/*
#
# Needs root: it runs in a private mount namespace with fresh tmpfs file
# systems over /var and /tmp (the program's fixed paths), so nothing outside
# is touched. Mail logging is on (header and notices in every message);
# virus scanning is off (no scanner daemon). Time the two modes with any
# whole-process timer, e.g. /usr/bin/time, and take their ratio.
set -euo pipefail
if [ "${1:-}" != --inside ]; then
  exec unshare --mount --propagation private "$0" --inside "$@"
fi
shift
bin=$(cd "$1" && pwd); mode=$2; shift 2
case $mode in filter|direct) ;; *) echo "mode: filter or direct" >&2; exit 2 ;; esac

mount -t tmpfs -o mode=0755 bench /var
mkdir -p /var/tmp /var/run /var/qmail/bin
chmod 1777 /var/tmp
mount -t tmpfs -o mode=1777 bench /tmp
mkdir /tmp/hqmail
printf '[Main]\nMail Domain=example.org\nVirus Scan=0\n[Mail Log]\nLog Mail=1\n' >/tmp/hqmail/hqmail.ini
# The queue program: the message from descriptor 0, then the envelope from 1.
cat >/var/qmail/bin/qmail-queue.orig <<'QUEUE'
#!/bin/sh
exec 3<&1 1>/dev/null
cat
cat <&3
QUEUE
chmod 755 /var/qmail/bin/qmail-queue.orig
printf 'Falice@example.com\0Tbob@example.org\0\0' >/var/tmp/envelope

failed=0
count=0
for dir in "$@"; do
  for msg in "$dir"/*; do
    [ -f "$msg" ] || continue
    count=$((count + 1))
    if [ "$mode" = filter ]; then
      "$bin/queuescan" <"$msg" 1</var/tmp/envelope || failed=$((failed + 1))
    else
      /var/qmail/bin/qmail-queue.orig <"$msg" 1</var/tmp/envelope || failed=$((failed + 1))
    fi
  done
done
echo "$mode: $count messages, $failed failed" >&2
[ "$failed" -eq 0 ]
