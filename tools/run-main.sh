#!/usr/bin/env bash
# Fresh machine: installs the packages, builds, and runs the main job: the host program
# loads the engine library and runs it on the sample messages. The default spam model is
# trained from the training half of the SpamAssassin corpus when none is present (once; it is
# kept in $QOR_MODEL, by default ~/.cache/telsor-model/Qor.bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh normal
model=${QOR_MODEL:-$HOME/.cache/telsor-model}
if [ ! -f "$model/Qor.bin" ]; then
  train="$(bash tools/fetch-corpora.sh)/spamassassin/train"
  mkdir -p "$model"
  build/normal/bin/qortrain "$model" --ham "$train/easy-ham-1" "$train/easy-ham-2" "$train/hard-ham-1" \
    --spam "$train/spam-1" "$train/spam-2"
fi
exec build/normal/bin/qorhost samples
