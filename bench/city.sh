#!/usr/bin/env bash
# bench/city.sh N [N...]: whole-city throughput, scaling and the codec floor.
#
# For each N: generates a city of N models (facade textures 256-1024 px,
# JPEG, PNG and a few TIFF), runs `kmztile build` on it, times the codec
# floor on the same textures (bench/codec_floor) and reports seconds per
# stage, models/s, tiles/s, MB written and peak memory as a table and as JSON.
#
# Environment:
#   KMZTILE_BUILD  build folder holding tools/kmztile, bench/codec_floor and
#                  samples/generator/kmztile-samplegen (default: build/ of this checkout)
#   CITY_WORK      scratch folder (default /tmp/kmztile-city); cities are kept
#                  there and reused when already generated with the same N
#   JOBS           --jobs of the build (default 2)
#   COMPARE_JOBS   1: afterwards rebuild the tiles with --jobs 1 and report the
#                  tile-stage speed-up of JOBS over 1
#   KEEP           1: keep the build output (default: removed after measuring)
#   GRAIN          per-pixel noise of the generated textures (samplegen --grain,
#                  default 0: flat drawings, which compress some 180:1 as PNG;
#                  photographed facades are noisy); a city with grain G is
#                  kept as src-N-gG
#   FORMAT         kmz (default) or kmz,3dtiles: afterwards build the same city
#                  again with --format kmz,3dtiles into a fresh folder and report
#                  both builds' CPU seconds and what the 3D Tiles add over KMZ only
set -euo pipefail

BUILD=${KMZTILE_BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build}
WORK=${CITY_WORK:-/tmp/kmztile-city}
JOBS=${JOBS:-2}
KMZTILE=$BUILD/tools/kmztile
SAMPLEGEN=$BUILD/samples/generator/kmztile-samplegen
FLOOR=$BUILD/bench/codec_floor
[ $# -ge 1 ] || { echo "usage: bench/city.sh N [N...]" >&2; exit 2; }
for exe in "$KMZTILE" "$SAMPLEGEN" "$FLOOR"; do
  [ -x "$exe" ] || { echo "city.sh: $exe is missing; build first" >&2; exit 2; }
done
mkdir -p "$WORK"

# Moves a folder out of the way; the trash is emptied when the script ends.
# Deleting tens of thousands of files just before a measured build would tax
# it: ext4 without a journal (as on the benchmark machines) scans past
# recently freed inodes on every file it creates for a minute or more.
TRASH=$WORK/trash
discard() { [ ! -e "$1" ] || { mkdir -p "$TRASH" && mv "$1" "$TRASH/$(date +%s%N)"; }; }
trap 'rm -rf "$TRASH"' EXIT

# Runs "$@" under GNU time; prints its max RSS in KB to the file named by $TIMEFILE.
timed() { /usr/bin/time -f '%M %e %U %S' -o "$TIMEFILE" "$@"; }

results=()
for N in "$@"; do
  tag=$N
  [ "${GRAIN:-0}" = 0 ] || tag=$N-g$GRAIN
  src=$WORK/src-$tag
  out=$WORK/out-$tag
  if [ ! -f "$src/.complete" ]; then
    rm -rf "$src"
    TIMEFILE=$WORK/gen-$tag.time timed "$SAMPLEGEN" --out "$src" --models "$N" --min-texture 256 --max-texture 1024 \
      --grain "${GRAIN:-0}" > "$WORK/gen-$tag.log"
    touch "$src/.complete"
  fi
  discard "$out"
  TIMEFILE=$WORK/build-$tag.time timed "$KMZTILE" build "$src" "$out" --crs EPSG:4527 --jobs "$JOBS" --json \
    > "$WORK/build-$tag.json"
  "$FLOOR" "$src" "$out" > "$WORK/floor-$tag.json"
  written=$(du -sb "$out/tiles" | cut -f1)
  jobs1=null
  if [ "${COMPARE_JOBS:-0}" = 1 ]; then
    discard "$out/tiles"
    rm -f "$out"/work/manifest-*
    "$KMZTILE" build "$src" "$out" --crs EPSG:4527 --jobs 1 --json > "$WORK/build-$tag-jobs1.json"
    jobs1=$WORK/build-$tag-jobs1.json
  fi
  [ "${KEEP:-0}" = 1 ] || discard "$out"
  both=null
  if [ "${FORMAT:-kmz}" = kmz,3dtiles ]; then
    discard "$out-3d"
    TIMEFILE=$WORK/build-$tag-3d.time timed "$KMZTILE" build "$src" "$out-3d" --crs EPSG:4527 --jobs "$JOBS" \
      --format kmz,3dtiles --json > "$WORK/build-$tag-3d.json"
    both=$WORK/build-$tag-3d
    [ "${KEEP:-0}" = 1 ] || discard "$out-3d"
  fi
  results+=("$N|$WORK/build-$tag.json|$WORK/build-$tag.time|$WORK/floor-$tag.json|$written|$jobs1|$WORK/gen-$tag.time|$both")
done

python3 - "$JOBS" "${results[@]}" <<'EOF'
import json, sys
jobs = int(sys.argv[1])
rows = []
for arg in sys.argv[2:]:
    n, build, timefile, floor, written, jobs1, gentime, both = arg.split("|")
    b = json.load(open(build))
    f = json.load(open(floor))
    rss_kb, wall, user, system = open(timefile).read().split()[-4:]
    st = b["stages"]
    levels = st.get("levels", {})
    tiles = sum(l["tiles"] for l in b.get("levels", [])) if isinstance(b.get("levels"), list) else b.get("tiles", 0)
    wall = float(wall)
    row = {
        "models": int(n), "jobs": jobs, "seconds": round(wall, 2), "cpu_s": round(float(user) + float(system), 2),
        "stages": {k: (round(v, 2) if not isinstance(v, dict) else {l: round(s, 2) for l, s in v.items()}) for k, v in st.items()},
        "tiles": tiles, "models_per_s": round(int(n) / wall, 1), "tiles_per_s": round(tiles / wall, 1),
        "ms_per_model": round(1000 * wall / int(n), 2), "mb_written": round(int(written) / 1048576, 1),
        "peak_rss_mb": round(int(rss_kb) / 1024, 1), "floor": f,
        # CPU seconds over CPU seconds: the tile work of all workers against the floor.
        "tile_work_over_floor": round(st["tiles_cpu"] / f["floor_s"], 2) if f["floor_s"] else None,
        # Everything (every stage, every process) against the floor.
        "build_over_floor": round((float(user) + float(system)) / f["floor_s"], 2) if f["floor_s"] else None,
        # The same against the floor as defined before (full-size decodes, TIFF entries not deflated).
        "tile_work_over_previous_floor": round(st["tiles_cpu"] / f["floor_previous_s"], 2) if f.get("floor_previous_s") else None,
        "build_over_previous_floor": round((float(user) + float(system)) / f["floor_previous_s"], 2) if f.get("floor_previous_s") else None,
        "generate_s": float(open(gentime).read().split()[-3]) if gentime and open(gentime).read().strip() else None,
    }
    if jobs1 != "null":
        j1 = json.load(open(jobs1))
        row["tiles_s_jobs1"] = round(j1["stages"]["tiles"], 2)
        row["tiles_speedup"] = round(j1["stages"]["tiles"] / st["tiles"], 2)
        if "tiles_cpu" in j1["stages"] and st.get("tiles_cpu_busiest_worker"):
            # On a machine shared with other work, wall time measures the
            # neighbours too: this is the speed-up the CPU work allows, the
            # single worker's CPU time over the busiest of the JOBS workers'.
            row["tiles_cpu_s_jobs1"] = round(j1["stages"]["tiles_cpu"], 2)
            row["tiles_cpu_speedup"] = round(j1["stages"]["tiles_cpu"] / st["tiles_cpu_busiest_worker"], 2)
            # One worker alone on the machine, as the floor is timed: two
            # workers on two virtual cores slow each other down.
            if f["floor_s"]:
                row["tile_work_jobs1_over_floor"] = round(j1["stages"]["tiles_cpu"] / f["floor_s"], 2)
    if both != "null":
        b3 = json.load(open(both + ".json"))
        rss3, wall3, user3, system3 = open(both + ".time").read().split()[-4:]
        cpu_kmz = float(user) + float(system)
        cpu_both = float(user3) + float(system3)
        row["kmz_3dtiles"] = {
            "seconds": round(float(wall3), 2), "cpu_s": round(cpu_both, 2), "peak_rss_mb": round(int(rss3) / 1024, 1),
            "tiles_cpu": round(b3["stages"]["tiles_cpu"], 2), "glb_cpu": round(b3["stages"]["glb_cpu"], 2),
            "glb_tiles": b3.get("glb_tiles"),
            # What the 3D Tiles add, as a share of the KMZ-only build: whole
            # process CPU of both builds, and the glb work measured inside the second.
            "added_cpu_over_kmz": round((cpu_both - cpu_kmz) / cpu_kmz, 3),
            "glb_cpu_over_kmz": round(b3["stages"]["glb_cpu"] / cpu_kmz, 3),
        }
    rows.append(row)

hdr = ["models", "seconds", "ms/model", "models/s", "tiles", "tiles/s", "MB", "peak MB", "catalog",
       "plan", "tiles stage", "L15", "L16", "L17", "L18", "tiles CPU s", "floor CPU s", "tile CPU/floor",
       "build CPU/floor"]
print("| " + " | ".join(hdr) + " |")
print("|" + "---|" * len(hdr))
for r in rows:
    s = r["stages"]; lv = s.get("levels", {})
    cells = [r["models"], r["seconds"], r["ms_per_model"], r["models_per_s"], r["tiles"], r["tiles_per_s"],
             r["mb_written"], r["peak_rss_mb"], s.get("catalog"), s.get("plan"), s.get("tiles"),
             lv.get("15"), lv.get("16"), lv.get("17"), lv.get("18"), round(s["tiles_cpu"], 2), r["floor"]["floor_s"],
             r["tile_work_over_floor"], r["build_over_floor"]]
    print("| " + " | ".join(str(c) for c in cells) + " |")
for r in rows:
    if r["tile_work_over_previous_floor"] is not None:
        print(f"{r['models']} models against the previous floor ({r['floor']['floor_previous_s']} s CPU: full-size decodes, "
              f"TIFF entries not deflated): tile CPU/floor {r['tile_work_over_previous_floor']}, "
              f"build CPU/floor {r['build_over_previous_floor']}")
for r in rows:
    if "tiles_speedup" in r:
        print(f"tile stage, {r['models']} models: --jobs 1 {r['tiles_s_jobs1']} s, --jobs {jobs} {r['stages']['tiles']} s, "
              f"speed-up {r['tiles_speedup']}x" +
              (f"; CPU: --jobs 1 {r['tiles_cpu_s_jobs1']} s, busiest of {jobs} workers "
               f"{round(r['stages']['tiles_cpu_busiest_worker'], 2)} s, speed-up {r['tiles_cpu_speedup']}x"
               if "tiles_cpu_speedup" in r else "") +
              (f"; --jobs 1 tile CPU/floor {r['tile_work_jobs1_over_floor']}" if "tile_work_jobs1_over_floor" in r else ""))
for r in rows:
    if "kmz_3dtiles" in r:
        t = r["kmz_3dtiles"]
        print(f"formats, {r['models']} models: kmz {r['cpu_s']} CPU s ({r['seconds']} s wall); kmz,3dtiles "
              f"{t['cpu_s']} CPU s ({t['seconds']} s wall), {t['glb_tiles']} glb tiles; 3D Tiles add "
              f"{t['added_cpu_over_kmz']}x of the KMZ build's CPU (glb work inside the build: {t['glb_cpu']} CPU s, "
              f"{t['glb_cpu_over_kmz']}x)")
print(json.dumps(rows, indent=1))
EOF
