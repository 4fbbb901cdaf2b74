// kmztile check SRCDIR [--json]: the pre-flight of a source folder before a
// long build. Lists every problem with its file and a reason; exits 1 when a
// problem would break the build, 0 otherwise (warnings allowed).
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <thread>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "build/JsonText.h"
#include "placement/detail/SourceCheck.h"

namespace {

using kmztile::placement::detail::ProblemSeverity;
using kmztile::placement::detail::SourceCheckReport;

struct CheckOptions {
  std::string folder;
  bool json = false;
};

const char* SeverityName(ProblemSeverity s) { return s == ProblemSeverity::kError ? "error" : "warning"; }

void PrintJson(const SourceCheckReport& report) {
  nlohmann::json out;
  out["folder"] = report.folder;
  out["ok"] = !report.HasErrors();
  out["errors"] = report.Count(ProblemSeverity::kError);
  out["warnings"] = report.Count(ProblemSeverity::kWarning);
  out["problems"] = nlohmann::json::array();
  for (const auto& p : report.problems)
    out["problems"].push_back(
        {{"severity", SeverityName(p.severity)}, {"file", p.file}, {"reason", p.reason}, {"left_out", p.leftOut}});
  out["models"] = nlohmann::json::array();
  for (const auto& m : report.models) {
    nlohmann::json j{{"file", m.modelFile}, {"name", m.name}};
    j["location"] = m.hasLocation ? nlohmann::json{{"x", m.x}, {"y", m.y}, {"grid", m.grid}} : nlohmann::json(nullptr);
    j["textures"] = nlohmann::json::array();
    for (const auto& t : m.textures)
      j["textures"].push_back({{"uri", t.uri}, {"path", t.path}, {"exists", t.exists}, {"packed", t.packed}});
    out["models"].push_back(std::move(j));
  }
  std::cout << kmztool::build::JsonText(out, 2) << "\n";
}

void PrintText(const SourceCheckReport& report) {
  for (const auto& p : report.problems) std::cout << SeverityName(p.severity) << ": " << p.file << ": " << p.reason << "\n";
  std::size_t textures = 0;
  for (const auto& m : report.models) textures += m.textures.size();
  std::cout << report.folder << ": " << report.models.size() << " model(s), " << textures << " texture reference(s), "
            << report.Count(ProblemSeverity::kError) << " error(s), " << report.Count(ProblemSeverity::kWarning)
            << " warning(s)\n";
}

const kmztool::CommandRegistrar kRegisterCheck("check", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<CheckOptions>();
  CLI::App* cmd = app.add_subcommand(
      "check", "Check a source folder (N.dae, N.txt, N\\ textures, doc.kml) before packaging it");
  cmd->add_option("folder", opt->folder, "The source folder")->required();
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->callback([opt, &exitCode] {
    // Models are checked on every core; the report does not depend on it.
    const int threads = static_cast<int>(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
    const SourceCheckReport report = kmztile::placement::detail::CheckSourceFolder(opt->folder, threads);
    if (opt->json) {
      PrintJson(report);
    } else {
      PrintText(report);
    }
    exitCode = report.HasErrors() ? kmztool::kFailed : kmztool::kOk;
  });
});

}  // namespace
