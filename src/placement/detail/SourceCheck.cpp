#include "placement/detail/SourceCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>

#include "placement/detail/ColladaImages.h"
#include "placement/detail/ColladaUri.h"
#include "placement/detail/LocationText.h"
#include "placement/detail/TemplateCheck.h"
#include "platform/Chunks.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/KmlNames.h"
#include "platform/Problems.h"
#include "platform/Paths.h"

namespace kmztile::placement::detail {
namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The extension as the folder listing of the build sees it: the text after
// the last ".", lower case; none when the only "." is the first character.
std::string ExtensionOf(const std::string& name) {
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return Lower(name.substr(dot + 1));
}

std::string ParentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file in the same folder whose name differs from @p path's only in
// letter case (archive entry names and this file system are case-sensitive).
std::string OtherCaseSibling(const std::string& path) {
  std::vector<platform::DirEntry> entries;
  if (!platform::FindEntries(ParentOf(path) + "/*", entries)) return {};
  const std::string name = platform::FileNameOf(path);
  const std::string lower = Lower(name);
  for (const auto& e : entries)
    if (!e.isDirectory && e.name != name && Lower(e.name) == lower) return e.name;
  return {};
}

// Texture files the tiles store as the image type their name says; any other
// name is re-encoded as JPEG, or dropped when it does not decode.
bool HasTileImageExtension(const std::string& path) {
  if (path.size() < 3) return false;
  const std::string last = path.substr(path.size() - 3);
  return last == "jpg" || last == "JPG" || last == "png" || last == "PNG" || last == "tif" || last == "TIF";
}

class FolderChecker {
 public:
  explicit FolderChecker(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    folder_ = f;
    native_ = NormalisePath(platform::NativePath(f));
    report_.folder = platform::NativePath(f);
  }

  SourceCheckReport Run(int threads) {
    // The platform records every name its listings skip (symbolic links,
    // FIFOs, names holding a backslash); they become warnings here, and
    // whatever the caller had recorded before is handed back afterwards.
    platform::ProblemList callers = platform::TakeProblemList();
    Scan(threads);
    std::set<std::pair<std::string, std::string>> seen;  // a folder listed twice reports its names once
    for (auto& p : platform::TakeProblems())
      if (seen.insert({p.file, p.reason}).second)
        report_.problems.push_back({ProblemSeverity::kWarning, std::move(p.file), std::move(p.reason), true});
    platform::PutBackProblems(std::move(callers));
    return std::move(report_);
  }

 private:
  void Scan(int threads) {
    if (!platform::IsDirectory(folder_)) {
      Error(folder_, "is not a folder");
      return;
    }
    CheckTemplate();
    const std::string middle = folder_ + "\\middle";
    if (platform::KindOf(middle) == platform::PathKind::Other)
      Error(middle, "is a file, but the packages are written into a folder of this name");
    const std::vector<std::string> models = ListModels();
    if (models.empty()) Error(folder_, "holds no model file (*.dae): the build stops without writing anything");
    CheckModels(models, threads);
    CheckSharedNames(models);
  }

  // Model files whose extensions differ only in letter case ("7.dae" and
  // "7.DAE") name one model twice: the tiles would hold two placemarks of one
  // id, which 3D Tiles refuse and readers confuse.
  void CheckSharedNames(const std::vector<std::string>& models) {
    std::map<std::string, std::string> first;  // model name -> the first file naming it
    for (const std::string& file : models) {
      if (file.size() <= 4) continue;
      const auto named = first.emplace(file.substr(0, file.size() - 4), file);
      if (!named.second)
        Error(folder_ + "\\" + file, "names the same model as \"" + named.first->second +
                                         "\" (the extensions differ only in letter case); the tiles hold a model "
                                         "name once, so the model is left out: rename one of the files");
    }
  }

  // A checker of the same folder with a report of its own.
  FolderChecker(const FolderChecker& parent, bool) : folder_(parent.folder_), native_(parent.native_) {}

  // The models are checked a chunk per thread, each chunk by a checker of
  // its own; reports and the names listings skipped are joined in model
  // order, so they read the same for any number of threads.
  void CheckModels(const std::vector<std::string>& models, int threads) {
    if (platform::ChunkCount(models.size(), threads) == 1) {
      for (const std::string& m : models) CheckModel(m);
      return;
    }
    // Each thread's list is bounded on its own; put back one after another
    // they read as one thread's list, with the same count of dropped names.
    platform::ProblemList skipped = platform::TakeProblemList();
    const std::size_t chunks = platform::ChunkCount(models.size(), threads);
    std::vector<FolderChecker> parts(chunks, FolderChecker(*this, true));
    std::vector<platform::ProblemList> partSkipped(chunks);
    platform::RunChunks(models.size(), threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) parts[chunk].CheckModel(models[i]);
      partSkipped[chunk] = platform::TakeProblemList();
    });
    platform::PutBackProblems(std::move(skipped));
    for (std::size_t c = 0; c < chunks; ++c) {
      auto& part = parts[c].report_;
      std::move(part.problems.begin(), part.problems.end(), std::back_inserter(report_.problems));
      std::move(part.models.begin(), part.models.end(), std::back_inserter(report_.models));
      platform::PutBackProblems(std::move(partSkipped[c]));
    }
  }

  void Add(ProblemSeverity severity, const std::string& file, std::string reason) {
    report_.problems.push_back({severity, platform::NativePath(file), std::move(reason)});
  }
  void Error(const std::string& file, std::string reason) { Add(ProblemSeverity::kError, file, std::move(reason)); }
  void Warning(const std::string& file, std::string reason) {
    Add(ProblemSeverity::kWarning, file, std::move(reason));
  }
  // A warning about a file the packages and tiles will lack.
  void LeftOut(const std::string& file, std::string reason) {
    Add(ProblemSeverity::kWarning, file, std::move(reason));
    report_.problems.back().leftOut = true;
  }

  std::string MissingReason(const std::string& path, const std::string& what) {
    const std::string other = OtherCaseSibling(platform::NativePath(path));
    if (!other.empty()) return what + " is missing; \"" + other + "\" differs only in letter case, and names are case-sensitive";
    return what + " is missing";
  }

  void CheckTemplate() {
    const std::string path = folder_ + "\\doc.kml";
    if (!platform::IsSymbolicLink(path) && !platform::PathExists(path)) {
      Error(path, MissingReason(path, "the template KML"));
      return;
    }
    const std::string reason = CheckTemplateFile(path);
    if (!reason.empty()) Error(path, reason);
  }

  std::vector<std::string> ListModels() {
    std::vector<platform::DirEntry> entries;
    std::vector<std::string> models;
    if (!platform::FindEntries(folder_ + "\\*", entries)) return models;
    for (const auto& e : entries)
      if (!e.isDirectory && ExtensionOf(e.name) == "dae") models.push_back(e.name);
    return models;
  }

  void CheckModel(const std::string& modelFile) {
    SourceModel model;
    model.modelFile = modelFile;
    model.name = modelFile.size() > 4 ? modelFile.substr(0, modelFile.size() - 4) : std::string();
    const std::string modelPath = folder_ + "\\" + modelFile;
    if (model.name.empty() || modelFile.compare(modelFile.size() - 4, 1, ".") != 0) {
      Error(modelPath, "the model name must be followed by a four-character extension such as \".dae\"");
      report_.models.push_back(std::move(model));
      return;
    }
    const std::string unwritable = platform::WhyKmlCannotHoldName(model.name);
    if (!unwritable.empty()) Error(modelPath, unwritable);
    char* end = nullptr;
    std::strtod(model.name.c_str(), &end);
    if (end == model.name.c_str())
      Warning(modelPath, "the model name is not a number: tile readers give this model the ID 0");
    CheckLocation(model);
    CheckCollada(modelPath, model);
    CheckTextureFolder(model);
    report_.models.push_back(std::move(model));
  }

  void CheckLocation(SourceModel& model) {
    const std::string path = folder_ + "\\" + model.name + ".txt";
    std::string text;
    // The read refuses a symbolic link itself; only a refusal looks at why.
    if (!platform::ReadPlainFile(path, text)) {
      if (platform::IsSymbolicLink(path))
        Error(path, "the location text is a symbolic link; links are not followed, so the model is left out");
      else
        Error(path, platform::PathExists(path) ? "the location text " + platform::WhyUnreadable(path)
                                               : MissingReason(path, "the location text") + " (the model would stand at 0, 0)");
      return;
    }
    const LocationLines lines = ReadLocationLines(text);
    const char* label[] = {"line 1 (x, longitude or easting)", "line 2 (y, latitude or northing)"};
    const LocationNumber* numbers[] = {&lines.x, &lines.y};
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
      const LocationNumber& n = *numbers[i];
      if (!n.present) {
        Error(path, std::string(label[i]) + " holds no number (the build would read 0)");
        ok = false;
      } else if (!std::isfinite(n.value)) {
        Error(path, std::string(label[i]) + " is not a finite number");
        ok = false;
      } else if (!n.ignored.empty()) {
        Warning(path, std::string(label[i]) + ": the text after the number is ignored: \"" + n.ignored + "\"");
      }
    }
    if (!ok) return;
    model.hasLocation = true;
    model.x = lines.x.value;
    model.y = lines.y.value;
    model.grid = IsGridLocation(model.x, model.y);
    const bool lonLat = model.x >= -180 && model.x <= 180 && model.y >= -90 && model.y <= 90;
    if (!lonLat && !model.grid) {
      char values[128];
      std::snprintf(values, sizeof values, "%.10g, %.10g", model.x, model.y);
      Error(path, std::string("the location ") + values +
                      " is neither a longitude/latitude (-180..180, -90..90) nor grid coordinates (x > 180 and y > 90)");
    }
  }

  void CheckCollada(const std::string& modelPath, SourceModel& model) {
    std::string xml;
    if (!platform::ReadWholeFile(modelPath, xml)) {
      Error(modelPath, "the model file " + platform::WhyUnreadable(modelPath));
      return;
    }
    if (xml.empty()) {
      Error(modelPath, "the model file is empty");
      return;
    }
    std::vector<std::string> uris;
    std::string error;
    if (!ReadColladaImageUris(xml, uris, error)) {
      Error(modelPath, "the model file is unusable: " + error);
      return;
    }
    // Compared with resolved paths, which are normalised: "./duck" is "duck".
    const std::string textureFolder = NormalisePath(native_ + "/" + model.name);
    std::set<std::string> seen;
    for (const std::string& uri : uris) {
      if (!seen.insert(uri).second) continue;
      SourceTexture texture;
      texture.uri = uri;
      const ResolvedUri resolved = ResolveColladaUri(uri, native_);
      if (resolved.kind == UriKind::kEmpty) continue;
      if (resolved.kind == UriKind::kExternal) {
        Warning(modelPath, "texture \"" + uri + "\" is not a local file: not checked, and not packed");
        model.textures.push_back(std::move(texture));
        continue;
      }
      texture.path = resolved.path;
      const platform::PathKind kind = platform::KindOf(texture.path);
      if (kind == platform::PathKind::Directory) {
        Error(modelPath, "texture \"" + uri + "\" names the folder " + texture.path + ", not a file");
      } else if (kind == platform::PathKind::Missing) {
        Error(modelPath, "texture \"" + uri + "\": " + MissingReason(texture.path, texture.path));
      } else {
        texture.exists = true;
        texture.packed = ParentOf(texture.path) == textureFolder;
        if (!texture.packed)
          LeftOut(modelPath, "texture \"" + uri + "\" (" + texture.path + ") lies outside the texture folder " +
                                 textureFolder + "; only the plain files of that folder are packed, so the tiles lack it");
        else if (!HasTileImageExtension(texture.path))
          Warning(modelPath, "texture \"" + uri +
                                 "\": tiles keep only .jpg, .png and .tif (all lower or all upper case) as they are; "
                                 "this one is re-encoded as JPEG, or left out when it does not decode");
      }
      model.textures.push_back(std::move(texture));
    }
  }

  void CheckTextureFolder(const SourceModel& model) {
    const std::string path = folder_ + "\\" + model.name;
    const platform::PathKind kind = platform::EntryKindOf(path);
    if (kind == platform::PathKind::Link) {
      LeftOut(path, "the texture folder is a symbolic link; links are not followed, so nothing of it is packed");
      return;
    }
    if (kind == platform::PathKind::Missing) return;
    if (kind != platform::PathKind::Directory) {
      LeftOut(path, "is a file where the model's texture folder belongs; nothing of it is packed");
      return;
    }
    std::vector<platform::DirEntry> entries;
    platform::FindEntries(path + "\\*", entries);
    for (const auto& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      const std::string file = path + "\\" + e.name;
      if (e.isDirectory) {
        LeftOut(file, "subfolders of a texture folder are not packed");
        continue;
      }
      std::uint64_t size = 0;
      std::int64_t mtime = 0;
      if (!platform::StatFile(file, size, mtime)) {
        Error(file, "cannot be examined");
      } else if (size == 0) {
        Error(file, "is empty: a zero-length file in a model package makes building any tile with this model fail");
      }
    }
  }

  std::string folder_;  // as given, without trailing separators (library path)
  std::string native_;  // normalised path of this system, for resolving references
  SourceCheckReport report_;
};

}  // namespace

std::size_t SourceCheckReport::Count(ProblemSeverity severity) const {
  std::size_t n = 0;
  for (const auto& p : problems)
    if (p.severity == severity) ++n;
  return n;
}

SourceCheckReport CheckSourceFolder(const std::string& folder, int threads) {
  return FolderChecker(folder).Run(threads);
}

}  // namespace kmztile::placement::detail
