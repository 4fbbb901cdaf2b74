#pragma once
// File-system operations in the desktop platform's terms. Every path is a
// library path (backslashes allowed) and is translated before it reaches the
// disk. Listings are sorted by name in byte order so that everything derived
// from them (package order, coordinates files) is deterministic.
#include <cstdint>
#include <fstream>
#include <functional>
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
 * wildcards names one entry (a symbolic link is never taken for a folder).
 * Names holding a backslash, symbolic links and anything but a plain file
 * or a folder are left out and recorded as problems (platform/Problems.h). @return false when nothing matches or the
 * folder cannot be read.
 */
bool FindEntries(const std::string& pattern, std::vector<DirEntry>& out);

/** True when @p path exists (file or folder). */
bool PathExists(const std::string& path);
/** True when @p path exists and is a folder. */
bool IsDirectory(const std::string& path);
/** What a path names: nothing (or a dangling link), a folder, a symbolic link, or something else. */
enum class PathKind { Missing, Directory, Link, Other };
/** PathExists and IsDirectory in one look at the path, a link followed (never Link). */
PathKind KindOf(const std::string& path);
/** What the entry at @p path itself is, a link not followed: IsSymbolicLink and KindOf in one look. */
PathKind EntryKindOf(const std::string& path);
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

/**
 * Reads a whole plain file in binary mode, replacing @p out. A FIFO, device
 * or folder is refused without blocking. @return false (out untouched) when
 * it cannot be read.
 */
bool ReadWholeFile(const std::string& path, std::string& out);
/**
 * ReadWholeFile a piece at a time: each piece goes to @p take as it is read,
 * so the file is never held whole (hashing a file needs no copy of it).
 * @p size and @p mtimeNs, when given, receive those of the file as opened.
 * @return false when it cannot be read to its end.
 */
bool ReadFilePieces(const std::string& path, const std::function<void(const char* data, std::size_t size)>& take,
                    std::uint64_t* size = nullptr, std::int64_t* mtimeNs = nullptr);
/**
 * ReadWholeFile for a file named inside a folder the library walks (a model,
 * location text, template or texture): a symbolic link is refused too, so
 * nothing outside the folder is read through one.
 */
bool ReadPlainFile(const std::string& path, std::string& out);
/**
 * Replaces a file whole; the same as WriteFileAtomically. No existing file is
 * ever opened for writing, so a file hard-linked elsewhere never changes
 * through the link.
 */
bool WriteWholeFile(const std::string& path, const std::string& data);
/**
 * Writes @p data beside @p path under a temporary name and renames it over
 * @p path once complete, so readers never see a half-written file. The new
 * file keeps the permissions of the file it replaces; a symbolic link at
 * @p path is replaced by the file, never written through.
 */
bool WriteFileAtomically(const std::string& path, const std::string& data);
/**
 * Gives @p replacement the permission bits of @p original (a file about to be
 * replaced by it). @return false when either cannot be examined or changed.
 */
bool CopyPermissions(const std::string& original, const std::string& replacement);
/** A temporary name in the folder of @p path, unique within this process. */
std::string TemporarySibling(const std::string& path);

/**
 * This process's id, for temporary names: asked of the system once, and
 * once more in a child after fork (a worker writes thousands of files).
 */
long ProcessId();

/**
 * Why @p path cannot be read, for a message beside its name: "is missing",
 * "is a folder, not a file", "cannot be read: Permission denied" and so on.
 */
std::string WhyUnreadable(const std::string& path);

/**
 * True when @p path is a plain file (no symbolic link, FIFO, device or
 * folder) that opens for reading; it is closed again at once.
 */
bool OpensAsPlainFile(const std::string& path);

/** Opens a stream for reading (binary or text); a FIFO, device or folder is refused. */
bool OpenInput(std::ifstream& in, const std::string& path, bool binary);

}  // namespace kmztile::platform
