#!/usr/bin/env bash
# The whole test suite: a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer
# build, each running every test, then a ThreadSanitizer build running the tests
# that start threads (label "threads"). Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
# Real mail for the tests that read it (outside the repository; see the script).
QOR_CORPORA=$(bash tools/fetch-corpora.sh)
export QOR_CORPORA

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
jobs=$(nproc)

status=0
for flavour in normal sanitize tsan; do
  echo "=== $flavour build"
  bash tools/build.sh "$flavour"
  echo "=== $flavour tests"
  select=()
  [ "$flavour" = tsan ] && select=(-L threads --no-tests=ignore)
  if ! ctest --test-dir "build/$flavour" --output-on-failure -j "$jobs" --timeout 600 "${select[@]}"; then
    status=1
  fi
done
exit $status
