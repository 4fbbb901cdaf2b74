// Tile building from an arbitrary model KML in a level folder: selection,
// combination, tile KMZ writing and reading it back never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "TileStage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kmzfuzz::TileStage stage;
  kmzfuzz::Write(stage.LevelFolder() + "m.kml", std::string(reinterpret_cast<const char*>(data), size));
  stage.Build();
  return 0;
}
