#!/usr/bin/env bash
# Fresh machine: installs the packages, builds, and runs the main job: the host program
# loads the engine library and runs it on the sample messages.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh normal
exec build/normal/bin/qorhost samples
