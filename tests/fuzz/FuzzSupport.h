#pragma once
// Helpers of the libFuzzer targets: one temporary folder per process and
// plain file writes that bypass the library (the fuzzer sets the stage).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/stat.h>

namespace kmzfuzz {

/** A fresh folder under /tmp made once per process (removed at exit), without a trailing slash. */
inline const std::string& ProcessFolder() {
  static const std::string folder = [] {
    std::string pattern = "/tmp/kmzfuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    });
    return true;
  }();
  (void)cleanup;
  return folder;
}

/** Creates a folder (its parent must exist). */
inline void MakeFolder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

/** Writes bytes to a file, replacing it. */
inline void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/** A whole file; aborts when it cannot be read (the stage is broken). */
inline std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) std::abort();
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kmzfuzz
