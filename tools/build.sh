#!/usr/bin/env bash
# Configures and builds one flavour: tools/build.sh [--main] normal|sanitize|tsan [extra cmake args]
# tsan builds only the engine and the threaded test programs (label "threads"); with --main
# only what the main job runs (target qor_main: the engine library, qorhost and qortrain).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
if [ "${1:-}" = --main ]; then
  targets=(--target qor_main)
  shift
fi
flavour=${1:-normal}
shift || true
case "$flavour" in
  normal)   args=(-DQOR_SANITIZE=OFF) ;;
  sanitize) args=(-DQOR_SANITIZE=ON) ;;
  tsan)     args=(-DQOR_TSAN=ON) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
if [ ${#targets[@]} -ne 0 ] && [ "$flavour" = tsan ]; then
  echo "--main: the tsan flavour builds no programs" >&2
  exit 2
fi
cmake -S . -B "build/$flavour" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_WERROR=ON "${args[@]}" "$@" >/dev/null
if [ ${#targets[@]} -ne 0 ]; then
  cmake --build "build/$flavour" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" "${targets[@]}"
elif [ "$flavour" = tsan ]; then
  cmake --build "build/$flavour" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target qorengine qor_threads_tests
else
  cmake --build "build/$flavour" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
fi
