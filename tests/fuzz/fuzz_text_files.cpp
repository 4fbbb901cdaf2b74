// The coordinates-file and scope-file readers on arbitrary text: the two
// range queries and tile selection through CreateTile never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "TileStage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kmzfuzz::TileStage stage;
  const std::string text(reinterpret_cast<const char*>(data), size);
  kmzfuzz::Write(stage.work + "scope.txt", text);
  stage.WriteCoords(text);
  double west = 0, east = 0, south = 0, north = 0;
  stage.parser.GetScopeRange(west, east, south, north);
  double minLat = 0, minLon = 0, maxLat = 0, maxLon = 0;
  stage.parser.GetAllModelRange("", &minLat, &minLon, &maxLat, &maxLon);
  stage.Build();
  return 0;
}
