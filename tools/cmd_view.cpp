// kmztile view OUT [--port N]: the 3D Tiles of a build in a browser. Serves
// OUT under /out/ and the viewer page (CesiumJS, installed with the command)
// at /, on 127.0.0.1 only, until Ctrl-C or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "Command.h"
#include "DataFolders.h"
#include "view/ViewServer.h"

namespace fs = std::filesystem;

namespace kmztool {
namespace {

constexpr const char* kCesiumScript = "node_modules/cesium/Build/Cesium/Cesium.js";

std::string FindViewer() {
  return FindDataFolder("viewer", KMZTILE_VIEWER_DIR, "index.html");
}

// The folders to serve, or a reason why the command cannot start.
bool ServedFolders(const std::string& out, std::vector<view::ServedFolder>& folders, std::string& error) {
  const std::string viewer = FindViewer();
  if (viewer.empty()) {
    error = "the viewer page is not installed (share/kmztile/viewer beside the command)";
    return false;
  }
  std::error_code ec;
  if (!fs::exists(fs::path(viewer) / kCesiumScript, ec)) {
    error = "CesiumJS is missing from " + viewer + " (" + kCesiumScript +
            "): run `npm ci` there, as scripts/bootstrap.sh does";
    return false;
  }
  if (!fs::is_directory(out, ec)) {
    error = out + ": no such output folder";
    return false;
  }
  if (!fs::is_regular_file(fs::path(out) / "3dtiles" / "tileset.json", ec)) {
    error = out + " holds no 3D Tiles (3dtiles/tileset.json): build them with `kmztile build --format kmz,3dtiles`";
    return false;
  }
  view::ServedFolder outFolder, viewerFolder;
  if (!view::MakeServedFolder("/out/", out, outFolder, error) ||
      !view::MakeServedFolder("/", viewer, viewerFolder, error))
    return false;
  folders = {outFolder, viewerFolder};
  return true;
}

int RunView(const std::string& out, int port) {
  std::vector<view::ServedFolder> folders;
  std::string error;
  if (!ServedFolders(out, folders, error)) {
    std::cerr << "kmztile view: " << error << "\n";
    return kFailed;
  }

  // SIGINT and SIGTERM are taken by one thread that stops the server; every
  // other thread (the server's workers start later and inherit the mask)
  // keeps them blocked, so a signal never interrupts a request half-written.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::mutex logLock;
  view::ViewServer server(folders, [&logLock](const std::string& refused) {
    std::lock_guard<std::mutex> lock(logLock);
    std::cerr << "kmztile view: refused " << refused << "\n";
  });
  const int bound = server.Bind(port, error);
  if (bound < 0) {
    std::cerr << "kmztile view: " << error << "\n";
    return kFailed;
  }

  // A connection still open when the server stops (a client sending its
  // request a byte at a time, a download that stalled) keeps one of the
  // server's workers until the client lets go; a stop waits for it only a
  // short while, then the command ends without it: it only reads files, so
  // nothing is left half-written.
  constexpr auto kStopGrace = std::chrono::seconds(3);
  std::mutex doneLock;
  std::condition_variable doneChanged;
  bool done = false;
  std::atomic<bool> signalled{false};
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    signalled = true;
    server.Stop();
    std::unique_lock<std::mutex> lock(doneLock);
    if (!doneChanged.wait_for(lock, kStopGrace, [&done] { return done; })) {
      std::cout << "Stopped (connections still open were cut)." << std::endl;
      std::_Exit(kOk);
    }
  });
  std::cout << "Serving " << out << " at http://127.0.0.1:" << bound << "/ (Ctrl-C stops)" << std::endl;
  const bool ran = server.Run();
  {
    std::lock_guard<std::mutex> lock(doneLock);
    done = true;
  }
  doneChanged.notify_all();
  // Wakes the waiter when the server ended on its own (the signal stays
  // blocked, so it only ends the sigwait).
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  if (!ran) {
    std::cerr << "kmztile view: the server stopped on an error\n";
    return kFailed;
  }
  std::cout << "Stopped." << std::endl;
  return kOk;
}

const CommandRegistrar kRegisterView("view", [](CLI::App& app, int& exitCode) {
  auto out = std::make_shared<std::string>();
  auto port = std::make_shared<int>(0);
  CLI::App* cmd = app.add_subcommand("view", "Serve a build's 3D Tiles and a viewer page on 127.0.0.1");
  cmd->add_option("out", *out, "Output folder of a build with 3D Tiles")->required();
  cmd->add_option("--port", *port, "Port to listen on (0: a free one)")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  cmd->callback([out, port, &exitCode] { exitCode = RunView(*out, *port); });
});

}  // namespace
}  // namespace kmztool
