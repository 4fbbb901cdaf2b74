#pragma once
// Data the command ships (the sample city, the viewer page): installed under
// PREFIX/share/kmztile beside the installed command, or in the source tree
// for a command run from its build tree.
#include <string>

namespace kmztool {

/**
 * The folder share/kmztile/@p shareRelative beside the running command when
 * it holds @p marker, else @p sourceTreeFolder when that holds it; empty
 * when neither does.
 */
std::string FindDataFolder(const std::string& shareRelative, const std::string& sourceTreeFolder,
                           const std::string& marker);

}  // namespace kmztool
