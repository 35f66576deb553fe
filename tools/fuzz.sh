#!/usr/bin/env bash
# Runs one libFuzzer target: tools/fuzz.sh NAME SECONDS [extra libFuzzer flags]
#
# Builds build/fuzz with clang (-fsanitize=fuzzer plus ASan and UBSan over the
# whole engine), then fuzzes tests/fuzz/NAME_fuzz.cpp for SECONDS, starting
# from the committed seeds in tests/fuzz/corpus/NAME. New corpus entries go to
# build/fuzz/corpus/NAME (not committed); a crashing input is written to
# tests/fuzz/crashes/NAME/, where, once the fault is mended, it is committed
# and runs as an ordinary test in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: tools/fuzz.sh NAME SECONDS}
seconds=${2:?usage: tools/fuzz.sh NAME SECONDS}
shift 2
[ -f "tests/fuzz/${name}_fuzz.cpp" ] || { echo "no target tests/fuzz/${name}_fuzz.cpp" >&2; exit 2; }
bash tools/install-deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DQOR_FUZZ=ON -DQOR_TESTS=ON >/dev/null
cmake --build build/fuzz --target "${name}_fuzz" -j "$(nproc)"
mkdir -p "build/fuzz/corpus/$name" "tests/fuzz/crashes/$name"
seeds=()
[ -d "tests/fuzz/corpus/$name" ] && seeds+=("tests/fuzz/corpus/$name")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
"build/fuzz/bin/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="tests/fuzz/crashes/$name/" -print_final_stats=1 "$@" \
  "build/fuzz/corpus/$name" "${seeds[@]}" || status=$?
rmdir "tests/fuzz/crashes/$name" 2>/dev/null || true
exit $status
