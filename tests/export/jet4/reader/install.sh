#!/usr/bin/env bash
# Installs mdb-reader for the card export tests into DIR (a folder of the
# build tree, so the source tree stays clean), with the reading script beside
# it. Safe to run again and from parallel test processes: the install happens
# once, under a lock.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dir="${1:?usage: install.sh DIR}"
mkdir -p "$dir"
exec 9>"$dir/.install.lock"
flock 9
# Other test processes may be running the reading script right now: a file
# that changed is replaced by a rename, never rewritten in place.
for f in package.json read_table.mjs; do
  if ! cmp -s "$here/$f" "$dir/$f"; then
    cp "$here/$f" "$dir/$f.new"
    mv -f "$dir/$f.new" "$dir/$f"
  fi
done
if [ ! -f "$dir/node_modules/mdb-reader/package.json" ]; then
  (cd "$dir" && npm install --no-audit --no-fund --loglevel=error >/dev/null)
fi
