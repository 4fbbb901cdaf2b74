// Moving the model of an arbitrary file: the update either succeeds on a
// valid package or reports false, and never crashes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "BaseParser.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kmzfuzz::ProcessFolder() + "/package.kmz";
  kmzfuzz::Write(path, std::string(reinterpret_cast<const char*>(data), size));
  // The last byte picks the position: inside the range, on its edge or beyond.
  static const double kPositions[][2] = {{116.4, 39.9}, {-180, 90}, {180.5, 0}, {0, -91}};
  const auto& p = kPositions[size ? data[size - 1] % 4 : 0];
  CBaseParser::UpdateLocationInKml(path, p[0], p[1]);
  return 0;
}
