#pragma once
// Writing the files of an output folder so that an interrupted or failed
// write never leaves a half-written file under the final name.
#include <string>

namespace kmztool::build {

/**
 * Writes @p data to a temporary sibling of @p path (same folder, name ending
 * in ".partial") and renames it over @p path, so readers see the old file
 * or the whole new one. With @p durable the data is synced to disk before
 * the rename (slower; for files that must survive a power cut). Parent
 * folders are created. On failure the temporary file is removed.
 * @throws std::runtime_error naming the path and the reason
 */
void WriteFileAtomically(const std::string& path, const std::string& data, bool durable = false);

}  // namespace kmztool::build
