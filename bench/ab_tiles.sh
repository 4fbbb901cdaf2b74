#!/usr/bin/env bash
# bench/ab_tiles.sh SRC OUT ROUNDS KMZTILE... : tile-stage CPU of several
# kmztile binaries, interleaved, on one output folder built beforehand
# (`kmztile build SRC OUT --crs EPSG:4527`). Each run moves OUT/tiles aside
# (deleting it would slow the next run's file creation on ext4 without a
# journal), removes the manifests so every tile is built again, waits PAUSE
# seconds (default 0) and runs `kmztile build --jobs 1 --json`; prints each
# binary's stages.tiles_cpu runs, minimum and median. The moved folders are
# deleted at the end.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: bench/ab_tiles.sh SRC OUT ROUNDS KMZTILE..." >&2; exit 2; }
src=$1 out=$2 rounds=$3
shift 3
trash=$(mktemp -d "$(dirname "$out")/ab-trash.XXXXXX")
trap 'rm -rf "$trash"' EXIT
for _ in $(seq "$rounds"); do
  for k in "$@"; do
    [ ! -e "$out/tiles" ] || mv "$out/tiles" "$trash/$(date +%s%N)"
    rm -f "$out"/work/manifest-*
    sleep "${PAUSE:-0}"
    "$k" build "$src" "$out" --crs EPSG:4527 --jobs 1 --json > "$trash/run.json"
    python3 -c 'import json, sys; print(sys.argv[1], json.load(open(sys.argv[2]))["stages"]["tiles_cpu"])' "$k" "$trash/run.json"
  done
done | python3 -c '
import collections, statistics, sys
runs = collections.OrderedDict()
for line in sys.stdin:
    k, v = line.rsplit(" ", 1)
    runs.setdefault(k, []).append(float(v))
for k, v in runs.items():
    print(f"{k}: tiles CPU s {[round(x, 2) for x in v]}, min {min(v):.2f}, median {statistics.median(v):.2f}")
'
