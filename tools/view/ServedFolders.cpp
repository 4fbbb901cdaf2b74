#include "view/ServedFolders.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace kmztool::view {
namespace {

// True when @p inner is @p outer or lies below it (both canonical).
bool IsWithin(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (i == inner.end() || *o != *i) return false;
  }
  return true;
}

}  // namespace

bool MakeServedFolder(const std::string& prefix, const std::string& root, ServedFolder& folder,
                      std::string& error) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(root, ec);
  if (ec || !fs::is_directory(canonical, ec)) {
    error = root + ": not a folder" + (ec ? " (" + ec.message() + ")" : std::string());
    return false;
  }
  folder.prefix = prefix;
  folder.root = canonical.string();
  return true;
}

PathJudgement JudgePath(const std::vector<ServedFolder>& folders, const std::string& path) {
  PathJudgement judgement;
  const auto refuse = [&judgement](std::string reason) {
    judgement.verdict = PathVerdict::kRefuse;
    judgement.reason = std::move(reason);
    return judgement;
  };
  if (path.empty() || path.front() != '/') return refuse("the path does not start with '/'");
  if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos)
    return refuse("the path holds a NUL byte or a backslash");
  const auto folder = std::find_if(folders.begin(), folders.end(), [&](const ServedFolder& f) {
    return path.compare(0, f.prefix.size(), f.prefix) == 0;
  });
  if (folder == folders.end()) return judgement;

  // Segment by segment: "." and ".." could climb, an empty segment (two
  // slashes) would start an absolute path once joined to the folder. Only
  // the last segment may be empty: the folder's index page.
  const std::string rest = path.substr(folder->prefix.size());
  fs::path relative;
  std::size_t start = 0;
  while (start <= rest.size()) {
    const std::size_t end = std::min(rest.find('/', start), rest.size());
    const std::string segment = rest.substr(start, end - start);
    if (segment == "." || segment == "..") return refuse("the path climbs with '" + segment + "'");
    if (segment.empty() && end != rest.size()) return refuse("the path has an empty segment");
    relative /= segment.empty() ? std::string("index.html") : segment;
    start = end + 1;
  }

  // A symbolic link below the folder may point anywhere: follow every link
  // that exists and check where the path lands.
  std::error_code ec;
  const fs::path root(folder->root);
  const fs::path landed = fs::weakly_canonical(root / relative, ec);
  if (ec || !IsWithin(root, landed)) return refuse("the path leads outside " + folder->root);
  judgement.verdict = PathVerdict::kServe;
  judgement.file = landed.string();
  return judgement;
}

std::string ContentTypeOf(const std::string& file) {
  static const std::map<std::string, std::string> types = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".map", "application/json"},
      {".xml", "application/xml"},
      {".txt", "text/plain; charset=utf-8"},
      {".md", "text/markdown; charset=utf-8"},
      {".csv", "text/csv; charset=utf-8"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".webp", "image/webp"},
      {".bmp", "image/bmp"},
      {".tif", "image/tiff"},
      {".tiff", "image/tiff"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".ktx2", "image/ktx2"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},
      {".wasm", "application/wasm"},
      {".glb", "model/gltf-binary"},
      {".gltf", "model/gltf+json"},
      {".dae", "model/vnd.collada+xml"},
      {".kmz", "application/vnd.google-earth.kmz"},
      {".kml", "application/vnd.google-earth.kml+xml"},
  };
  std::string extension = fs::path(file).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto found = types.find(extension);
  return found == types.end() ? "application/octet-stream" : found->second;
}

}  // namespace kmztool::view
