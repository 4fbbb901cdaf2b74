#pragma once
// The bundled sample city as the build suites use it: whole, or its first
// models copied into a folder of their own.
#include <cstdio>
#include <filesystem>
#include <string>

namespace kmztest {

inline const std::string kSampleCity = std::string(KMZTILE_SOURCE_DIR) + "/samples/city";

/** Copies the template and the first @p models models (N.dae, N.txt, N/) of the sample city to @p to. */
inline void CopySmallCity(const std::string& to, int models) {
  namespace fs = std::filesystem;
  fs::create_directories(to);
  fs::copy_file(kSampleCity + "/doc.kml", to + "/doc.kml");
  char name[16];
  for (int i = 1; i <= models; ++i) {
    std::snprintf(name, sizeof name, "%04d", i);
    for (const char* ext : {".dae", ".txt"}) fs::copy_file(kSampleCity + "/" + name + ext, to + "/" + name + ext);
    fs::copy(kSampleCity + "/" + name, to + "/" + name, fs::copy_options::recursive);
  }
}

}  // namespace kmztest
