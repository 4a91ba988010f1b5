#!/usr/bin/env bash
# The include check: every `#include "folder/..."` in a file under src/ must
# name its own folder or one that src/layers.txt lets that folder include.
# Exits 1 and lists each offending line otherwise (a header-only upward
# include would pass the build, since every library shares src/ as its
# include root). Usage: scripts/check-layers.sh [source root, default src]
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-src}
table="$root/layers.txt"
[[ -f "$table" ]] || { echo "check-layers: no $table" >&2; exit 2; }

declare -A allowed
while IFS= read -r line; do
  line=${line%%#*}
  [[ "$line" =~ ^[[:space:]]*([A-Za-z0-9_]+):(.*)$ ]] || continue
  allowed[${BASH_REMATCH[1]}]=" ${BASH_REMATCH[2]} "
done <"$table"

status=0
while IFS= read -r -d '' file; do
  rel=${file#"$root"/}
  folder=${rel%%/*}
  [[ "$folder" == "$rel" ]] && continue  # files at the top of src/
  if [[ -z "${allowed[$folder]+set}" ]]; then
    echo "$file: folder '$folder' is missing from $table"
    status=1
    continue
  fi
  lineno=0
  while IFS= read -r line; do
    lineno=$((lineno + 1))
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
    target=${BASH_REMATCH[1]}
    if [[ "$target" == ../* || "$target" == */../* ]]; then
      echo "$file:$lineno: includes \"$target\" by a relative path out of its folder"
      status=1
      continue
    fi
    [[ "$target" == */* ]] || continue  # a header beside it, or a generated one
    dep=${target%%/*}
    [[ "$dep" == "$folder" ]] && continue
    [[ -n "${allowed[$dep]+set}" ]] || continue  # not one of our folders
    if [[ "${allowed[$folder]}" != *" $dep "* ]]; then
      echo "$file:$lineno: '$folder' may not include \"$target\" (see $table)"
      status=1
    fi
  done <"$file"
done < <(find "$root" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) -print0 | sort -z)

if ((status == 0)); then echo "check-layers: every include keeps to $table"; fi
exit $status
