#!/usr/bin/env bash
# Installs the peers the benchmark programs compare against (RE2, PCRE2 with
# its JIT, GMime 3, Pigeonhole's sievec from dovecot-sieve, w3m) and Google Benchmark itself. Debian 12; run once before
#   bash tools/build.sh normal -DQOR_BENCH=ON
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq libre2-dev libpcre2-dev libgmime-3.0-dev libbenchmark-dev pkg-config dovecot-sieve w3m
