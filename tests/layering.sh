#!/usr/bin/env bash
# Each engine folder is a layer: foundation <- search <- mime <- classify <- filter.
# The build gives every layer an include path of only its own and lower folders;
# this check refuses what the include path cannot see: "../" includes and
# includes of a higher layer spelled any other way.
set -euo pipefail
engine="$(cd "$(dirname "$0")/../engine" && pwd)"
layers=(foundation search mime classify filter)
status=0
for i in "${!layers[@]}"; do
  layer=${layers[$i]}
  [ -d "$engine/$layer" ] || continue
  higher=("${layers[@]:$((i + 1))}")
  [ "$layer" = filter ] || higher+=(include)
  while IFS= read -r line; do
    echo "layering: $line"
    status=1
  done < <(grep -HnE '^\s*#\s*include\s*"\.\./' "$engine/$layer"/* 2>/dev/null || true)
  for h in "${higher[@]}"; do
    while IFS= read -r line; do
      echo "layering: $layer includes $h: $line"
      status=1
    done < <(grep -HnE "^\s*#\s*include\s*[\"<]$h/" "$engine/$layer"/* 2>/dev/null || true)
  done
done
exit $status
