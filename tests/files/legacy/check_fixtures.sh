#!/bin/sh
# The fixtures kept here are exactly what the generator writes: the same
# files, byte for byte.
set -eu
here=$(dirname "$0")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
python3 "$here/make_jet_fixtures.py" "$out" >/dev/null
kept=$(cd "$here" && ls | grep -E '\.(mdb|accdb)$')
made=$(ls "$out")
[ "$kept" = "$made" ] || { echo "kept: $kept"; echo "made: $made"; exit 1; }
for f in $made; do
    cmp "$out/$f" "$here/$f"
done
