// kmztile read FILE.kmz [--json] [--lazy]: the entries of a KMZ and the models it places;
// with --lazy, each model and its textures read one by one through an archive handle.
#include <sys/stat.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"
#include "build/JsonText.h"
#include "platform/LastError.h"
#include "reading/KmzSource.h"

namespace {

// Standard input is buffered whole before it is read as an archive; beyond
// this it is refused instead of exhausting memory.
constexpr std::uint64_t kMaxStandardInput = 1ull << 30;  // 1 GiB

struct ReadOptions {
  std::string file;
  bool json = false;
  bool lazy = false;
};

std::string SourceName(const ReadOptions& opt) { return opt.file == "-" ? "standard input" : opt.file; }

// Why the library refused the archive, as it recorded it.
std::string Reason() {
  const std::string& why = kmztile::platform::LastError();
  return why.empty() ? "not a readable KMZ archive" : why;
}

// Reads all of standard input into @p out, up to kMaxStandardInput bytes.
// @return an empty string on success, otherwise what went wrong.
std::string ReadStandardInput(std::string& out) {
  const char* const tooLarge = "standard input is larger than the 1 GiB limit";
  struct stat info {};
  if (fstat(fileno(stdin), &info) == 0 && S_ISREG(info.st_mode)) {
    if (static_cast<std::uint64_t>(info.st_size) > kMaxStandardInput) return tooLarge;
    out.reserve(static_cast<std::size_t>(info.st_size));
  }
  // Standard input is always archive bytes: anything else would otherwise
  // be taken for the name of a file to open. Its first bytes decide, so an
  // endless stream of something else (/dev/zero) is refused at once rather
  // than after a gigabyte.
  const char* const notArchive = "standard input is not a KMZ archive (no zip local header at its start)";
  const std::size_t chunk = 1 << 20;
  auto buffer = std::make_unique<char[]>(chunk);
  std::size_t got;
  while ((got = std::fread(buffer.get(), 1, chunk, stdin)) > 0) {
    if (out.size() + got > kMaxStandardInput) return tooLarge;
    out.append(buffer.get(), got);
    if (out.size() >= 4 && !kmztile::reading::IsArchiveBytes(out)) return notArchive;
  }
  if (std::ferror(stdin)) return "cannot read standard input";
  if (out.empty()) return "standard input is empty";
  if (!kmztile::reading::IsArchiveBytes(out)) return notArchive;
  return "";
}

// Closes an archive handle on every exit path of the lazy read.
struct HandleCloser {
  long* handle = nullptr;
  ~HandleCloser() {
    if (!handle) return;
    std::string unused;
    CBaseParser::ReadOneKmzData(handle, unused, unused, true);
  }
};

// One model read through the handle: its file and its textures.
struct LazyModel {
  std::string name;
  std::size_t bytes = 0;
  std::vector<std::string> textures;
  std::vector<std::size_t> textureBytes;
  const LonLatID* location = nullptr;
};

// --lazy: lists the models with ReadKmzToListEx, then reads each model and
// its textures one by one through the archive handle.
int RunLazyRead(const ReadOptions& opt, const std::string& source) {
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  HandleCloser closer;
  if (!CBaseParser::ReadKmzToListEx(source, textures, locations, closer.handle)) {
    std::cerr << "kmztile read: " << SourceName(opt) << ": " << Reason() << "\n";
    return kmztool::kFailed;
  }
  std::vector<LazyModel> models;
  for (const auto& [modelName, textureNames] : textures) {
    LazyModel model;
    model.name = modelName;
    std::string name = modelName;
    std::string data;
    if (!CBaseParser::ReadOneKmzData(closer.handle, name, data, false)) {
      std::cerr << "kmztile read: " << SourceName(opt) << ": " << Reason() << "\n";
      return kmztool::kFailed;
    }
    model.bytes = data.size();
    std::vector<std::string> contents;
    if (!CBaseParser::ReadTextureToList(closer.handle, textureNames, contents)) {
      std::cerr << "kmztile read: " << SourceName(opt) << ": " << Reason() << "\n";
      return kmztool::kFailed;
    }
    model.textures = textureNames;
    for (const auto& c : contents) model.textureBytes.push_back(c.size());
    const auto located = locations.find(modelName);
    if (located != locations.end()) model.location = &located->second;
    models.push_back(std::move(model));
  }
  if (opt.json) {
    nlohmann::json out;
    out["models"] = nlohmann::json::array();
    for (const auto& m : models) {
      nlohmann::json j{{"name", m.name}, {"bytes", m.bytes}, {"textures", nlohmann::json::array()}};
      for (size_t i = 0; i < m.textures.size(); ++i)
        j["textures"].push_back({{"name", m.textures[i]}, {"bytes", m.textureBytes[i]}});
      j["location"] = m.location ? nlohmann::json{{"lon", m.location->Lon}, {"lat", m.location->Lat}, {"id", m.location->ID}}
                                 : nlohmann::json(nullptr);
      out["models"].push_back(std::move(j));
    }
    out["locations"] = nlohmann::json::array();
    for (const auto& [href, loc] : locations)
      out["locations"].push_back({{"href", href}, {"lon", loc.Lon}, {"lat", loc.Lat}, {"id", loc.ID}});
    std::cout << kmztool::build::JsonText(out, 2) << "\n";
    return kmztool::kOk;
  }
  std::cout << "models: " << models.size() << "\n";
  for (const auto& m : models) {
    std::cout << "  " << m.bytes << "\t" << m.name;
    if (m.location) {
      char line[128];
      std::snprintf(line, sizeof line, "\t%.8f\t%.8f\t%ld", m.location->Lon, m.location->Lat, m.location->ID);
      std::cout << line;
    }
    std::cout << "\n";
    for (size_t i = 0; i < m.textures.size(); ++i)
      std::cout << "    " << m.textureBytes[i] << "\t" << m.textures[i] << "\n";
  }
  return kmztool::kOk;
}

int RunRead(const ReadOptions& opt) {
  std::string source = opt.file;
  if (source == "-") {
    source.clear();
    const std::string error = ReadStandardInput(source);
    if (!error.empty()) {
      std::cerr << "kmztile read: " << error << "\n";
      return kmztool::kFailed;
    }
  }
  if (opt.lazy) return RunLazyRead(opt, source);
  std::vector<std::string> names;
  std::vector<std::string> contents;
  std::map<std::string, LonLatID> locations;
  if (!CBaseParser::ReadKmzToList(source, names, contents, locations)) {
    std::cerr << "kmztile read: " << SourceName(opt) << ": " << Reason() << "\n";
    return kmztool::kFailed;
  }
  if (opt.json) {
    nlohmann::json out;
    out["entries"] = nlohmann::json::array();
    for (size_t i = 0; i < names.size(); ++i)
      out["entries"].push_back({{"name", names[i]}, {"bytes", contents[i].size()}});
    out["models"] = nlohmann::json::array();
    for (const auto& [href, loc] : locations)
      out["models"].push_back({{"href", href}, {"lon", loc.Lon}, {"lat", loc.Lat}, {"id", loc.ID}});
    std::cout << kmztool::build::JsonText(out, 2) << "\n";
    return kmztool::kOk;
  }
  std::cout << "entries: " << names.size() << "\n";
  for (size_t i = 0; i < names.size(); ++i) std::cout << "  " << contents[i].size() << "\t" << names[i] << "\n";
  std::cout << "models: " << locations.size() << "\n";
  for (const auto& [href, loc] : locations) {
    char line[128];
    std::snprintf(line, sizeof line, "%.8f\t%.8f\t%ld", loc.Lon, loc.Lat, loc.ID);
    std::cout << "  " << href << "\t" << line << "\n";
  }
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterRead("read", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<ReadOptions>();
  CLI::App* cmd = app.add_subcommand("read", "List the entries of a KMZ and the models its KML places");
  cmd->add_option("file", opt->file, "KMZ file to read, or - for its bytes on standard input (at most 1 GiB)")->required();
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->add_flag("--lazy", opt->lazy,
                "Keep the archive open and read each model and its textures one by one (prints per model its textures)");
  cmd->callback([opt, &exitCode] { exitCode = RunRead(*opt); });
});

}  // namespace
