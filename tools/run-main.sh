#!/usr/bin/env bash
# Fresh machine: installs the packages, builds, and runs the main job: the host program
# loads the engine library and spam-tests the sample messages. The default spam model is
# trained from the training half of the SpamAssassin corpus by tools/default-model.sh when
# none is present or the one there was trained with other options or from other text (it is
# kept in $QOR_MODEL, by default ~/.cache/telsor-model/Qor.bin, with its stamp Qor.stamp), and
# the data directory gets an empty script catalogue when it has none. Arguments go to qorhost
# (message files, mailboxes or folders in place of samples/).
set -euo pipefail
cd "$(dirname "$0")/.."
step() { echo "run-main: $*" >&2; }
step "installing packages"
bash tools/install-deps.sh
step "building the engine library, qorhost and qortrain (build/normal)"
bash tools/build.sh --main normal
model=${QOR_MODEL:-$HOME/.cache/telsor-model}
step "checking the default spam model in $model"
bash tools/default-model.sh "$model"
if [ ! -f "$model/SieveCatalog.xml" ]; then
  printf '<?xml version="1.0"?>\n<SieveScripts USN="0">\n</SieveScripts>\n' >"$model/SieveCatalog.xml"
fi
step "spam-testing with build/normal/bin/qorhost"
if [ $# -eq 0 ]; then set -- samples; fi
QOR_MODEL=$model exec build/normal/bin/qorhost --data "$model" "$@"
