#!/usr/bin/env bash
# Fresh machine: installs the packages, builds, and runs the main job: the host program
# loads the engine library and spam-tests the sample messages. The default spam model is
# trained from the training half of the SpamAssassin corpus when none is present (once; it is
# kept in $QOR_MODEL, by default ~/.cache/telsor-model/Qor.bin), and the data directory gets an
# empty script catalogue when it has none. Arguments go to qorhost (message files, mailboxes or
# folders in place of samples/).
set -euo pipefail
cd "$(dirname "$0")/.."
step() { echo "run-main: $*" >&2; }
step "installing packages"
bash tools/install-deps.sh
step "building (build/normal)"
bash tools/build.sh normal
model=${QOR_MODEL:-$HOME/.cache/telsor-model}
if [ ! -f "$model/Qor.bin" ]; then
  step "fetching the SpamAssassin corpus"
  train="$(bash tools/fetch-corpora.sh)/spamassassin/train"
  mkdir -p "$model"
  step "training the default spam model into $model (a few minutes)"
  build/normal/bin/qortrain "$model" --ham "$train/easy-ham-1" "$train/easy-ham-2" "$train/hard-ham-1" \
    --spam "$train/spam-1" "$train/spam-2"
fi
if [ ! -f "$model/SieveCatalog.xml" ]; then
  printf '<?xml version="1.0"?>\n<SieveScripts USN="0">\n</SieveScripts>\n' >"$model/SieveCatalog.xml"
fi
step "spam-testing with build/normal/bin/qorhost"
if [ $# -eq 0 ]; then set -- samples; fi
QOR_MODEL=$model exec build/normal/bin/qorhost --data "$model" "$@"
