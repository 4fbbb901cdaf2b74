// The checked zip directory on arbitrary bytes, then a read and a chunked
// verification of every entry.
#include <cstddef>
#include <cstdint>
#include <string>

#include "reading/detail/ZipDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kmztile::reading::detail::ZipDirectory dir;
  if (!kmztile::reading::detail::ZipDirectory::Parse(bytes, dir)) return 0;
  std::string out;
  for (const auto& entry : dir.entries()) {
    kmztile::reading::detail::ZipDirectory::Read(bytes, entry, out, 1u << 24);
    if (entry.uncompressedSize <= (1u << 24)) kmztile::reading::detail::ZipDirectory::Verify(bytes, entry);
  }
  return 0;
}
