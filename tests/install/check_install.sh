#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds a small host
# against it twice: with find_package(kmztile) and with pkg-config.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
