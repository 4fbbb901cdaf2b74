#pragma once
// The plain files of one folder, optionally only those of one extension.
#include <string>
#include <vector>

namespace kmztile::placement::detail {

/**
 * Appends to @p out the bare names of the plain files in @p folder, in the
 * platform's enumeration order (sorted by name). With a non-empty
 * @p extension (lower case, no dot) only files whose extension, the text
 * after the last "." lowered, equals it are listed; a name whose only dot is
 * its first character has no extension. Subfolders are never listed, nor
 * are the names the platform listing skips (symbolic links, FIFOs and
 * devices, names holding a backslash), each recorded as a problem. A path
 * that exists but is not a folder lists nothing and is recorded as a
 * problem; a missing folder lists nothing. Paths have no length limit of
 * their own.
 */
void ListFolderFiles(const std::string& folder, const std::string& extension, std::vector<std::string>& out);

/** The lower-cased extension of a file name, by the rule of ListFolderFiles. */
std::string FileExtension(const std::string& name);

}  // namespace kmztile::placement::detail
