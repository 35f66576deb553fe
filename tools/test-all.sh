#!/usr/bin/env bash
# The whole test suite: a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer
# build, each running every test. Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)

status=0
for flavour in normal sanitize; do
  echo "=== $flavour build"
  bash tools/build.sh "$flavour"
  echo "=== $flavour tests"
  if ! ctest --test-dir "build/$flavour" --output-on-failure -j "$jobs" --timeout 600; then
    status=1
  fi
done
exit $status
