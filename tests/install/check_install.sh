#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds a small host
# against it twice: with find_package(kmztile) and with pkg-config; then the
# installed command serves its installed viewer page.
set -euo pipefail
build=$1
work=$(mktemp -d)
view=""
trap '[ -n "$view" ] && kill "$view" 2>/dev/null; rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/host"
cat > "$work/host/main.cpp" <<'CPP'
#include <BaseParser.h>
#include <iostream>
int main() {
  CBaseParser parser;
  long r0 = 0, c0 = 0, r1 = 0, c1 = 0;
  parser.TileIndex(100, 110, 30, 40, 2, CreateGeographicPyramid(), &r0, &c0, &r1, &c1);
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> models;
  const bool read = CBaseParser::ReadKmzToList("", names, contents, models);
  std::cout << r0 << c0 << r1 << c1 << read << "\n";
  return (r0 == 0 && c0 == 3 && r1 == 0 && c1 == 3 && !read) ? 0 : 1;
}
CPP
cat > "$work/host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(host CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(kmztile REQUIRED)
add_executable(host main.cpp)
target_link_libraries(host kmztile::kmztile)
CMAKE
cmake -S "$work/host" -B "$work/host/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/host/build/host"
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 "$work/host/main.cpp" $(pkg-config --cflags --libs kmztile) -o "$work/host/host-pc"
LD_LIBRARY_PATH="$work/prefix/lib" "$work/host/host-pc"
echo "installed package builds and runs a host"

# The installed `kmztile view` serves the installed page and CesiumJS's
# browser build: Cesium.js is there, the module builds beside it (left in the
# source tree's node_modules) are not.
mkdir -p "$work/out/3dtiles"
echo '{}' > "$work/out/3dtiles/tileset.json"
"$work/prefix/bin/kmztile" view "$work/out" --port 0 > "$work/view.out" 2>&1 &
view=$!
for _ in $(seq 200); do grep -q 'http://127.0.0.1:' "$work/view.out" && break; sleep 0.1; done
port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/view.out" | cut -d: -f2)
[ -n "$port" ] || { cat "$work/view.out"; exit 1; }
status_of() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' "$1" >&3
  head -1 <&3 | cut -d' ' -f2
  exec 3<&-
}
[ "$(status_of /node_modules/cesium/Build/Cesium/Cesium.js)" = 200 ]
[ "$(status_of /index.html)" = 200 ]
[ "$(status_of /node_modules/cesium/Build/Cesium/index.js)" = 404 ]
kill -TERM "$view"
wait "$view"
view=""
echo "installed kmztile view serves the installed viewer"
