#pragma once
// Where a build may write. A build empties and rewrites its output folder
// and the working area below it, so neither may hold the source.
#include <string>

namespace kmztile::folders::detail {

/**
 * Why a build of @p source into @p out, staging or working in @p work, must
 * not start; empty when it may. Refused: @p out is the source or contains it,
 * @p work is the source or contains it, and @p out is the texture folder of a
 * model of the source (N beside N.dae), which the build does not stage. Paths are compared once links,
 * "." and ".." are resolved, so no other spelling slips through.
 */
std::string RefuseBuildFolders(const std::string& source, const std::string& out, const std::string& work);

}  // namespace kmztile::folders::detail
