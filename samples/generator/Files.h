#pragma once
// Whole-file writes and copies of the generator, counting the bytes written.
#include <cstdint>
#include <string>

namespace samplegen {

/** Writes @p data to @p path, replacing it. @throws std::runtime_error naming the file */
void WriteFileBytes(const std::string& path, const std::string& data);

/** Reads a whole file. @throws std::runtime_error naming the file */
std::string ReadFileBytes(const std::string& path);

/** Creates @p path and its parents. @throws std::runtime_error naming the folder */
void MakeFolders(const std::string& path);

/** Size of a file in bytes. */
std::uint64_t FileSize(const std::string& path);

}  // namespace samplegen
