#pragma once
// File-system operations in the desktop platform's terms. Every path is a
// library path (backslashes allowed) and is translated before it reaches the
// disk. Listings are sorted by name in byte order so that everything derived
// from them (package order, coordinates files) is deterministic.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace kmztile::platform {

/** One entry of a directory listing. */
struct DirEntry {
  std::string name;
  bool isDirectory = false;
};

/**
 * Lists what a search pattern matches, like FindFirstFile/FindNextFile: the
 * last path component may hold "*" and "?" and matches case-insensitively
 * ("*.*" matches every name, "." and ".." included); a pattern without
 * wildcards names one entry. @return false when nothing matches or the
 * folder cannot be read.
 */
bool FindEntries(const std::string& pattern, std::vector<DirEntry>& out);

/** True when @p path exists (file or folder). */
bool PathExists(const std::string& path);
/** True when @p path exists and is a folder. */
bool IsDirectory(const std::string& path);
/** Creates one folder. @return false when it exists already or cannot be created. */
bool MakeDirectory(const std::string& path);
/** Removes one empty folder. @return false when it is not empty or cannot be removed. */
bool RemoveEmptyDirectory(const std::string& path);
/** Deletes one file. */
bool RemoveFile(const std::string& path);
/** Renames @p from to @p to, replacing @p to. */
bool RenamePath(const std::string& from, const std::string& to);
/** Size and modification time (nanoseconds) of a file. @return false when it cannot be examined. */
bool StatFile(const std::string& path, std::uint64_t& size, std::int64_t& mtimeNs);

/** Reads a whole file in binary mode, replacing @p out. @return false (out untouched) when it cannot be read. */
bool ReadWholeFile(const std::string& path, std::string& out);
/** Writes @p data to a file in binary mode, creating or emptying it. */
bool WriteWholeFile(const std::string& path, const std::string& data);
/**
 * Writes @p data beside @p path under a temporary name and renames it over
 * @p path once complete, so readers never see a half-written file.
 */
bool WriteFileAtomically(const std::string& path, const std::string& data);
/** A temporary name in the folder of @p path, unique within this process. */
std::string TemporarySibling(const std::string& path);

/** Opens a stream for reading (binary or text). @return false when it cannot be opened. */
bool OpenInput(std::ifstream& in, const std::string& path, bool binary);
/** Opens a stream for writing, creating or emptying the file. */
bool OpenOutput(std::ofstream& out, const std::string& path, bool binary);

}  // namespace kmztile::platform
