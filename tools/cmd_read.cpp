// kmztile read FILE.kmz [--json] [--lazy]: the entries of a KMZ and the models it places.
#include <iostream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"

namespace {

struct ReadOptions {
  std::string file;
  bool json = false;
};

int RunRead(const ReadOptions& opt) {
  std::string source = opt.file;
  if (source == "-") {
    source.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (source.empty()) {
      std::cerr << "kmztile read: standard input is empty\n";
      return kmztool::kFailed;
    }
  }
  std::vector<std::string> names;
  std::vector<std::string> contents;
  std::map<std::string, LonLatID> locations;
  if (!CBaseParser::ReadKmzToList(source, names, contents, locations)) {
    std::cerr << "kmztile read: cannot read " << (opt.file == "-" ? "standard input" : opt.file)
              << ": not a readable, well-formed KMZ archive (or an entry is damaged)\n";
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
    std::cout << out.dump(2) << "\n";
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
  cmd->add_option("file", opt->file, "KMZ file to read, or - for its bytes on standard input")->required();
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->callback([opt, &exitCode] { exitCode = RunRead(*opt); });
});

}  // namespace
