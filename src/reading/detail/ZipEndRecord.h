#pragma once
// Finding the end-of-central-directory record of an archive exactly where
// minizip finds it, since libkml lists archives through minizip: the last
// end signature in the final 65,535 bytes, whatever follows it. Bytes after
// the record (left by some writers) are therefore accepted. An archive that
// other readers could take for a different one is refused: a zip64 locator
// minizip would follow, an earlier end record whose comment covers the one
// used, or bytes between the directory and its end record (minizip would
// shift every offset by them).
#include <cstdint>
#include <string>
#include <string_view>

namespace kmztile::reading::detail {

/** What the end record states about the central directory. */
struct ZipEndRecord {
  std::size_t position = 0;          // offset of the record's signature
  std::uint16_t entryCount = 0;
  std::uint32_t directorySize = 0;
  std::uint32_t directoryOffset = 0;  // the directory ends right at the record
};

/**
 * Locates and checks the end record of @p bytes.
 * @return false, with a short reason in @p why, when there is none, it is
 * truncated, multi-disk or zip64, or the archive is ambiguous.
 */
bool FindEndRecord(std::string_view bytes, ZipEndRecord& out, std::string& why);

}  // namespace kmztile::reading::detail
