// The handle reader on arbitrary bytes: list, read every listed entry one by
// one and in a batch, then release. Never crash, never leak a handle.
#include <cstddef>
#include <cstdint>
#include <string>

#include "BaseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes("PK\x03\x04", 4);
  if (size >= 4 && data[0] == 'P' && data[1] == 'K' && data[2] == 3 && data[3] == 4) bytes.clear();
  bytes.append(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  if (!CBaseParser::ReadKmzToListEx(bytes, textures, locations, handle)) return 0;
  std::vector<std::string> batch;
  std::string out;
  for (const auto& [model, list] : textures) {
    std::string name = model;
    CBaseParser::ReadOneKmzData(handle, name, out, false);
    for (const std::string& t : list) {
      std::string texture = t;
      CBaseParser::ReadOneKmzData(handle, texture, out, false);
      batch.push_back(t);
    }
  }
  for (const auto& entry : locations) {
    std::string name = entry.first;
    CBaseParser::ReadOneKmzData(handle, name, out, false);
  }
  std::string missing = "no/such/entry";
  CBaseParser::ReadOneKmzData(handle, missing, out, false);
  std::vector<std::string> contents;
  CBaseParser::ReadTextureToList(handle, batch, contents);
  std::string none;
  CBaseParser::ReadOneKmzData(handle, none, out, true);
  return 0;
}
