#!/usr/bin/env bash
# bench/floor_pairs.sh SRC [PAIRS]: tile and whole-build CPU against the codec
# floor, from PAIRS (default 3) builds of SRC with --jobs 1, each followed at
# once by bench/codec_floor on its output; prints every pair's ratios and their
# medians. On a machine whose speed drifts from minute to minute, a ratio taken
# from a build and a floor measured side by side is steadier than one build
# set against one floor measured minutes apart.
#
# Environment: KMZTILE_BUILD (build folder, default build/ of this checkout),
# OUT (scratch output folder, default /dev/shm/kmztile-floor-pairs; it is removed).
set -euo pipefail
BUILD=${KMZTILE_BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build}
OUT=${OUT:-/dev/shm/kmztile-floor-pairs}
[ $# -ge 1 ] || { echo "usage: bench/floor_pairs.sh SRC [PAIRS]" >&2; exit 2; }
SRC=$1
PAIRS=${2:-3}
TIME=$(mktemp)
trap 'rm -rf "$OUT" "$TIME"' EXIT
tiles=() builds=() floors=()
for _ in $(seq "$PAIRS"); do
  rm -rf "$OUT"
  /usr/bin/time -f '%U %S' -o "$TIME" "$BUILD/tools/kmztile" build "$SRC" "$OUT" --crs EPSG:4527 --jobs 1 --json \
    > "$OUT.json"
  tiles+=("$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["stages"]["tiles_cpu"])' "$OUT.json")")
  builds+=("$(awk '{print $1 + $2}' "$TIME")")
  floors+=("$("$BUILD/bench/codec_floor" "$SRC" "$OUT" | python3 -c 'import json,sys; print(json.load(sys.stdin)["floor_s"])')")
  rm -f "$OUT.json"
done
python3 - "${tiles[*]}" "${builds[*]}" "${floors[*]}" <<'PY'
import statistics, sys
tiles, builds, floors = ([float(x) for x in a.split()] for a in sys.argv[1:4])
tile = [round(t / f, 3) for t, f in zip(tiles, floors)]
build = [round(b / f, 3) for b, f in zip(builds, floors)]
print(f"tile CPU s {tiles}\nbuild CPU s {builds}\nfloor s {floors}")
print(f"tile CPU / floor {tile} median {statistics.median(tile)}")
print(f"build CPU / floor {build} median {statistics.median(build)}")
PY
