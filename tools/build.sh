#!/usr/bin/env bash
# Configures and builds one flavour: tools/build.sh normal|sanitize|tsan [extra cmake args]
# tsan builds only the engine and the threaded test programs (label "threads").
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-normal}
shift || true
case "$flavour" in
  normal)   args=(-DQOR_SANITIZE=OFF) ;;
  sanitize) args=(-DQOR_SANITIZE=ON) ;;
  tsan)     args=(-DQOR_TSAN=ON) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_WERROR=ON "${args[@]}" "$@" >/dev/null
if [ "$flavour" = tsan ]; then
  cmake --build "build/$flavour" -j "$(nproc)" --target qorengine qor_threads_tests
else
  cmake --build "build/$flavour" -j "$(nproc)"
fi
