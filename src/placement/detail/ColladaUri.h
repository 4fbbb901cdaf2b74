#pragma once
// Turning a COLLADA image URI into a file path the way COLLADA readers do:
// backslashes taken as "/", "file:" forms stripped to their path, the
// fragment and query dropped, percent escapes decoded, and a relative
// reference resolved against the folder of the COLLADA file.
#include <string>

namespace kmztile::placement::detail {

/** What kind of reference a URI is. */
enum class UriKind {
  kLocalFile,  // a path on this system (relative ones resolved)
  kExternal,   // another scheme (http:, https:, ...) or a network share: not a local file
  kEmpty,      // nothing left after trimming
};

/** A resolved image reference. */
struct ResolvedUri {
  UriKind kind = UriKind::kEmpty;
  /** Normalised path ("/" separators, no "." or ".." steps that can be removed) for kLocalFile. */
  std::string path;
};

/**
 * Resolves @p uri against @p baseFolder (the COLLADA file's folder, a path
 * of this system).
 */
ResolvedUri ResolveColladaUri(const std::string& uri, const std::string& baseFolder);

/** @p path with "." steps removed and ".." steps applied where possible; "/" separators. */
std::string NormalisePath(const std::string& path);

/** Decodes %XX escapes; a "%" not followed by two hex digits stays as it is. */
std::string PercentDecode(const std::string& text);

}  // namespace kmztile::placement::detail
