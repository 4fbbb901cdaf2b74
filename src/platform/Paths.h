#pragma once
// Path spelling. The library joins paths with backslashes, as the desktop
// platform does; on POSIX every function that touches the disk first turns
// each backslash into "/". Nothing else rewrites paths.
#include <string>

namespace kmztile::platform {

/** The path as the operating system wants it: every "\" becomes "/" on POSIX. */
std::string NativePath(const std::string& libraryPath);

/** The part after the last separator ("\" or, on POSIX, "/"); the whole path when it has none. */
std::string FileNameOf(const std::string& path);

}  // namespace kmztile::platform
