#!/usr/bin/env bash
# Fails when a source file includes a folder of src/ below its own in the
# order of the layers (each folder may use only the folders above it).
#   scripts/check_layers.sh   (from the repository root)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
order=(core textio input field medium output simulation app)
status=0
for ((i = 0; i < ${#order[@]}; i++)); do
  folder=${order[$i]}
  [ -d "$root/src/$folder" ] || continue
  for ((j = i + 1; j < ${#order[@]}; j++)); do
    below=${order[$j]}
    if hits=$(grep -rnE "#include +\"$below/" "$root/src/$folder"); then
      echo "src/$folder must not include src/$below:"
      echo "$hits" | sed "s|$root/||"
      status=1
    fi
  done
done
for dir in "$root"/src/*/; do
  name=$(basename "$dir")
  if [[ ! " ${order[*]} " =~ " $name " ]]; then
    echo "src/$name is not one of the layers: ${order[*]}"
    status=1
  fi
done
[ $status -eq 0 ] && echo "layers: every include points upward"
exit $status
