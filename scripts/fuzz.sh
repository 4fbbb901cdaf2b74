#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60),
# seeded from the sample archives and images in tests/data. Crashes land in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/bootstrap.sh
if ! command -v clang++-14 >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-14 libclang-rt-14-dev >/dev/null
fi
build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKMZTILE_FUZZ=ON \
  -DKMZTILE_SANITIZE=ON -DKMZTILE_BUILD_BENCH=OFF -DKMZTILE_BUILD_TESTS=OFF >/dev/null
cmake --build $build -j "$(nproc)" --target $(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//' | tr '\n' ' ')

real=tests/data
mkdir -p $build/crashes
status=0
for src in tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  if [ -f "tests/fuzz/$name.seeds" ]; then
    while read -r pattern; do
      [ -z "$pattern" ] && continue
      for f in $real/$pattern; do [ -f "$f" ] && seeds+=("$f"); done
    done < "tests/fuzz/$name.seeds"
  fi
  # Generated seeds (text files and small documents no real sample provides).
  if [ -d "tests/fuzz/seeds/$name" ]; then
    for f in tests/fuzz/seeds/"$name"/*; do [ -f "$f" ] && seeds+=("$f"); done
  fi
  for f in "${seeds[@]+"${seeds[@]}"}"; do cp -n "$f" "$corpus/" 2>/dev/null || true; done
  echo "== $name ($seconds s)"
  if ! ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1 \
      $build/tests/fuzz/$name "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1048576 \
      -artifact_prefix=$build/crashes/$name- -print_final_stats=1 2>"$build/$name.log"; then
    echo "!! $name found a crash; see $build/$name.log and $build/crashes/"
    tail -40 "$build/$name.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$name.log" | sed "s/^/   /"
done
exit $status
