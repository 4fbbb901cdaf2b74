#pragma once
// Questions about where a path really leads, asked before the library
// writes or deletes: is it a symbolic link, which file does it finally name,
// does one folder lie inside another once links and ".." are resolved.
#include <string>

namespace kmztile::platform {

/** True when @p path itself (its last component) is a symbolic link. */
bool IsSymbolicLink(const std::string& path);

/**
 * The file @p path finally names, every symbolic link resolved, in the
 * library's spelling; @p path itself when it is no link. Empty when it is a
 * link that leads nowhere (dangling, or a loop).
 */
std::string LinkTarget(const std::string& path);

/**
 * The absolute spelling of @p path with links, "." and ".." resolved; a
 * tail that does not exist yet is kept as written.
 */
std::string CanonicalPath(const std::string& path);

/** True when @p inner is @p outer or lies below it, both compared canonical. */
bool IsSameOrInside(const std::string& inner, const std::string& outer);

}  // namespace kmztile::platform
