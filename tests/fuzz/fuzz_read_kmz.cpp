// Whole-archive reading of arbitrary bytes: never crash, never leak.
#include <cstddef>
#include <cstdint>
#include <string>

#include "BaseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Force the bytes form of the source: a path is never what the fuzzer means.
  std::string bytes("PK\x03\x04", 4);
  bytes.append(reinterpret_cast<const char*>(data), size);
  if (size >= 4 && data[0] == 'P' && data[1] == 'K' && data[2] == 3 && data[3] == 4)
    bytes.assign(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  CBaseParser::ReadKmzToList(bytes, names, contents, locations);
  return 0;
}
