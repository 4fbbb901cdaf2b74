#pragma once
// Which file a request of `kmztile view` may read. The server answers from a
// few folders, each under its own URL prefix; a request names a file below
// one of them or is refused. Nothing outside those folders is ever read:
// no "..", no empty segments (which would make an absolute path), no
// backslashes or NUL bytes, and no symbolic link that resolves outside its
// folder.
#include <string>
#include <utility>
#include <vector>

namespace kmztool::view {

/** One folder the server answers from: requests starting with prefix ("/out/", "/") map below root. */
struct ServedFolder {
  std::string prefix;  ///< starts and ends with '/'
  std::string root;    ///< the folder, made canonical by MakeServedFolder
};

/**
 * @p root made canonical (symbolic links resolved) under @p prefix.
 * @return false with a reason naming the folder when it is not an existing folder.
 */
bool MakeServedFolder(const std::string& prefix, const std::string& root, ServedFolder& folder,
                      std::string& error);

/** What the server does with one request path. */
enum class PathVerdict {
  kServe,    ///< a path below a served folder; the file may or may not exist
  kRefuse,   ///< a path that leads, or could lead, outside the folders
  kUnknown,  ///< no folder's prefix matches
};

struct PathJudgement {
  PathVerdict verdict = PathVerdict::kUnknown;
  std::string file;    ///< kServe: the file, symbolic links resolved ("index.html" for a path ending in '/')
  std::string reason;  ///< kRefuse: why
};

/** Judges the decoded request path @p path against @p folders (the first whose prefix matches decides). */
PathJudgement JudgePath(const std::vector<ServedFolder>& folders, const std::string& path);

/**
 * The content type of @p file by its extension: web pages, scripts, images,
 * fonts, WebAssembly, glTF, 3D Tiles, KML; application/octet-stream for
 * anything else.
 */
std::string ContentTypeOf(const std::string& file);

}  // namespace kmztool::view
