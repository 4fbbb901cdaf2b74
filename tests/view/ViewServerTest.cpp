// `kmztile view` over real HTTP: what the server answers for paths below its
// folders (content, content type, large files streamed whole) and that every
// way out of them is refused (climbing "..", encoded or not, empty segments,
// backslashes, NUL bytes, symbolic links leading out); then the command
// itself: it prints its URL, listens on the loopback address only, refuses
// a taken port or an output folder without 3D Tiles, and stops on SIGINT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "TestSupport.h"
#include "view/ViewServer.h"

namespace {

namespace fs = std::filesystem;
using kmztool::view::ServedFolder;
using kmztool::view::ViewServer;

struct Answer {
  int status = 0;
  std::string contentType;
  std::string headers;
  std::string body;
};

// The value of header @p name in @p answer, or "(none)".
std::string HeaderOf(const Answer& answer, const std::string& name) {
  std::smatch value;
  if (std::regex_search(answer.headers, value, std::regex("\r\n" + name + ": ([^\r]*)", std::regex::icase)))
    return value[1];
  return "(none)";
}

// Sends @p target exactly as written (no client folds ".." or re-encodes)
// and reads the whole answer; the connection is closed by the server.
Answer RawGet(int port, const std::string& target, const std::string& extraHeaders = "") {
  Answer answer;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    return answer;
  }
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders + "\r\n";
  if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    close(fd);
    return answer;
  }
  std::string raw;
  char buffer[65536];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) raw.append(buffer, static_cast<size_t>(n));
  close(fd);
  const auto headerEnd = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || headerEnd == std::string::npos) return answer;
  answer.status = std::atoi(raw.c_str() + 9);
  answer.headers = raw.substr(0, headerEnd);
  answer.contentType = HeaderOf(answer, "Content-Type");
  if (answer.contentType == "(none)") answer.contentType.clear();
  answer.body = raw.substr(headerEnd + 4);
  return answer;
}

class ViewServerTest : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    kmztest::WriteFile(Path("secret.txt"), "SECRET beside the output folder\n");
    kmztest::WriteFile(Path("out/3dtiles/tileset.json"), R"({"asset":{"version":"1.1"}})");
    glb_ = std::string("glTF\x02\0\0\0", 8) + std::string(100, '\0') + "end";
    kmztest::WriteFile(Path("out/3dtiles/15/1/2.glb"), glb_);
    kmztest::WriteFile(Path("out/tiles/15/1/2.kmz"), "PK\x03\x04");
    kmztest::WriteFile(Path("out/root.kml"), "<kml/>");
    kmztest::WriteFile(Path("out/overview.svg"), "<svg/>");
    // Larger than one chunk of the server's stream, with every byte value.
    std::mt19937 random(17);
    large_.resize(300001);
    for (char& c : large_) c = static_cast<char>(random());
    kmztest::WriteFile(Path("out/3dtiles/16/2/4.glb"), large_);
    kmztest::WriteFile(Path("viewer/index.html"), "<!doctype html><title>viewer</title>");
    kmztest::WriteFile(Path("viewer/viewer.js"), "'use strict';");
    kmztest::WriteFile(Path("viewer/viewer.css"), "body{}");
    kmztest::WriteFile(Path("viewer/lib/decoder.wasm"), std::string("\0asm", 4));
    kmztest::WriteFile(Path("viewer/lib/image.PNG"), "\x89PNG");
    kmztest::WriteFile(Path("viewer/lib/photo.jpg"), "\xff\xd8");
    // Links inside the output folder: one that stays in it, and several ways out.
    fs::create_directory_symlink("3dtiles", Path("out/inside"));
    fs::create_directory_symlink(Path(), Path("out/escape"));
    fs::create_symlink(Path("secret.txt"), Path("out/leak.txt"));
    fs::create_symlink("../../secret.txt", Path("out/3dtiles/up.json"));
    fs::create_directory_symlink("/", Path("out/root"));
    fs::create_directory_symlink("../viewer", Path("out/viewer"));
    ServedFolder out, viewer;
    std::string error;
    ASSERT_TRUE(kmztool::view::MakeServedFolder("/out/", Path("out"), out, error)) << error;
    ASSERT_TRUE(kmztool::view::MakeServedFolder("/", Path("viewer"), viewer, error)) << error;
    server_ = std::make_unique<ViewServer>(std::vector<ServedFolder>{out, viewer},
                                           [this](const std::string& refused) { refused_ += refused + "\n"; });
    port_ = server_->Bind(0, error);
    ASSERT_GT(port_, 0) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
    TempDirTest::TearDown();
  }

  std::string glb_, large_, refused_;
  std::unique_ptr<ViewServer> server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(ViewServerTest, ServesFilesBelowItsFoldersWithTheirContentTypes) {
  const struct {
    std::string target, type, body;
  } served[] = {
      {"/", "text/html; charset=utf-8", "<!doctype html><title>viewer</title>"},
      {"/viewer.js", "text/javascript; charset=utf-8", "'use strict';"},
      {"/viewer.css", "text/css; charset=utf-8", "body{}"},
      {"/lib/decoder.wasm", "application/wasm", std::string("\0asm", 4)},
      {"/lib/image.PNG", "image/png", "\x89PNG"},
      {"/lib/photo.jpg", "image/jpeg", "\xff\xd8"},
      {"/out/3dtiles/tileset.json", "application/json", R"({"asset":{"version":"1.1"}})"},
      {"/out/3dtiles/15/1/2.glb", "model/gltf-binary", glb_},
      {"/out/3dtiles/16/2/4.glb", "model/gltf-binary", large_},
      {"/out/3dtiles/15/1/2.glb?v=1", "model/gltf-binary", glb_},
      {"/out/%33dtiles/tileset.json", "application/json", R"({"asset":{"version":"1.1"}})"},
      {"/out/inside/tileset.json", "application/json", R"({"asset":{"version":"1.1"}})"},
      {"/out/tiles/15/1/2.kmz", "application/vnd.google-earth.kmz", "PK\x03\x04"},
      {"/out/root.kml", "application/vnd.google-earth.kml+xml", "<kml/>"},
      {"/out/overview.svg", "image/svg+xml", "<svg/>"},
  };
  for (const auto& s : served) {
    const Answer a = RawGet(port_, s.target);
    EXPECT_EQ(a.status, 200) << s.target;
    EXPECT_EQ(a.contentType, s.type) << s.target;
    EXPECT_TRUE(a.body == s.body) << s.target << ": " << a.body.size() << " bytes, expected " << s.body.size();
  }
  const Answer range = RawGet(port_, "/out/3dtiles/15/1/2.glb", "Range: bytes=0-3\r\n");
  EXPECT_EQ(range.status, 206);
  EXPECT_EQ(range.body, "glTF");
  for (const std::string missing : {"/out/nothing.json", "/out/3dtiles", "/out/3dtiles/", "/nothing.js", "/lib"})
    EXPECT_EQ(RawGet(port_, missing).status, 404) << missing;
  EXPECT_EQ(refused_, "");
}

// Byte ranges past the end of a file: the library announced the bytes asked
// for (or, for "200-" of a 111-byte file, a length that wrapped to 2^64 - 90)
// and sent fewer. Every answer must hold as many bytes as it announces:
// ranges are cut at the end of the file, several are joined into one, and
// none within the file is 416 with the file's size.
TEST_F(ViewServerTest, RangesAreFittedToTheFile) {
  const std::string file = "/out/3dtiles/15/1/2.glb";  // glb_, 111 bytes
  const struct {
    std::string range;
    int status;
    std::size_t from, length;  // the part of glb_ sent
  } cases[] = {
      {"0-3", 206, 0, 4},      {"100-999", 206, 100, 11}, {"5-", 206, 5, 106},   {"-5", 206, 106, 5},
      {"-500", 206, 0, 111},   {"0-0,2-3", 206, 0, 4},    {"200-300,1-1", 206, 1, 1}, {"110-", 206, 110, 1},
      {"111-", 416, 0, 0},     {"200-300", 416, 0, 0},    {"-0", 416, 0, 0},
  };
  for (const auto& c : cases) {
    const Answer a = RawGet(port_, file, "Range: bytes=" + c.range + "\r\n");
    EXPECT_EQ(a.status, c.status) << c.range;
    EXPECT_EQ(HeaderOf(a, "Content-Length"), std::to_string(a.body.size())) << c.range;
    EXPECT_TRUE(a.body == glb_.substr(c.from, c.length)) << c.range << ": " << a.body.size() << " bytes";
    const std::string expected = c.status == 416 ? "bytes */111"
                                                 : "bytes " + std::to_string(c.from) + "-" +
                                                       std::to_string(c.from + c.length - 1) + "/111";
    EXPECT_EQ(HeaderOf(a, "Content-Range"), expected) << c.range;
  }
  kmztest::WriteFile(Path("out/empty.json"), "");
  EXPECT_EQ(RawGet(port_, "/out/empty.json", "Range: bytes=0-10\r\n").status, 416);
}

TEST_F(ViewServerTest, RefusesEveryPathOutOfItsFolders) {
  const std::string refused[] = {
      "/out/../secret.txt",           "/out/%2e%2e/secret.txt",     "/out/%2E%2E/secret.txt",
      "/out/..%2fsecret.txt",         "/out/%2e%2e%2fsecret.txt",   "/out/.%2e/secret.txt",
      "/out/3dtiles/../../secret.txt", "/out/3dtiles/%2e%2e/%2e%2e/secret.txt",
      "/out/..",                      "/out/./3dtiles/tileset.json", "/../secret.txt",
      "/%2e%2e/secret.txt",           "/lib/../../secret.txt",      "/out//etc/passwd",
      "/out/%2fetc%2fpasswd",         "//etc/passwd",               "/%2fetc/passwd",
      "/out/..%5csecret.txt",         "/out/%5c..%5csecret.txt",    "/out/secret.txt%00.json",
      "/out/escape/secret.txt",       "/out/leak.txt",              "/out/3dtiles/up.json",
      "/out/root/etc/passwd",         "/out/viewer/index.html",     "/out/escape/nothing-here",
  };
  for (const auto& target : refused) {
    const Answer a = RawGet(port_, target);
    EXPECT_EQ(a.status, 403) << target;
    EXPECT_EQ(a.body.find("SECRET"), std::string::npos) << target;
    EXPECT_EQ(a.body.find("root:"), std::string::npos) << target;
  }
  // Targets that are no path at all never reach a file either.
  for (const std::string target : {"../secret.txt", "secret.txt", "*"}) {
    const Answer a = RawGet(port_, target);
    EXPECT_GE(a.status, 400) << target;
    EXPECT_EQ(a.body.find("SECRET"), std::string::npos) << target;
  }
  EXPECT_NE(refused_.find("GET /out/%2e%2e/secret.txt: the path climbs with '..'"), std::string::npos) << refused_;
  EXPECT_NE(refused_.find("GET /out/leak.txt: the path leads outside"), std::string::npos) << refused_;
}

// --- the command ---------------------------------------------------------

// `kmztile view ARGS` running in the background, its standard output and
// error read from files.
struct ViewProcess {
  pid_t pid = -1;
  std::string outFile, errFile;

  ViewProcess(const std::vector<std::string>& args, const std::string& folder)
      : outFile(folder + "/view.out"), errFile(folder + "/view.err") {
    pid = fork();
    if (pid == 0) {
      if (!freopen(outFile.c_str(), "w", stdout) || !freopen(errFile.c_str(), "w", stderr)) _exit(127);
      std::vector<char*> argv{const_cast<char*>(std::getenv("KMZTILE_CLI")), const_cast<char*>("view")};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~ViewProcess() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  std::string Out() const { return kmztest::Exists(outFile) ? kmztest::ReadFile(outFile) : ""; }
  std::string Err() const { return kmztest::Exists(errFile) ? kmztest::ReadFile(errFile) : ""; }

  // The port of the URL the command prints, or 0 after @p seconds.
  int Port(double seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::smatch m;
    while (std::chrono::steady_clock::now() < until) {
      const std::string out = Out();
      if (std::regex_search(out, m, std::regex("http://127\\.0\\.0\\.1:(\\d+)/"))) return std::stoi(m[1]);
      if (waitpid(pid, nullptr, WNOHANG) != 0) return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }

  // The exit code once the process ended within @p seconds; -1 otherwise.
  int Wait(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
};

// True when /proc/net/tcp shows @p port listening on 127.0.0.1 and on no other address.
bool ListensOnLoopbackOnly(int port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  bool loopback = false, other = false;
  char portHex[8];
  std::snprintf(portHex, sizeof portHex, "%04X", port);
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state != "0A" || local.size() < 13 || local.substr(9) != portHex) continue;
    (local.substr(0, 8) == "0100007F" ? loopback : other) = true;
  }
  return loopback && !other;
}

class ViewCommandTest : public kmztest::CliTempDirTest {};

TEST_F(ViewCommandTest, ServesTheBuildOnLoopbackAndStopsOnCtrlC) {
  kmztest::WriteFile(Path("out/3dtiles/tileset.json"), R"({"asset":{"version":"1.1"}})");
  ViewProcess view({Path("out"), "--port", "0"}, Path());
  const int port = view.Port(20);
  ASSERT_GT(port, 0) << view.Out() << view.Err();
  EXPECT_NE(view.Out().find("Serving " + Path("out") + " at http://127.0.0.1:"), std::string::npos) << view.Out();
  EXPECT_TRUE(ListensOnLoopbackOnly(port));
  const Answer tileset = RawGet(port, "/out/3dtiles/tileset.json");
  EXPECT_EQ(tileset.status, 200);
  EXPECT_EQ(tileset.body, R"({"asset":{"version":"1.1"}})");
  const Answer page = RawGet(port, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("viewer.js"), std::string::npos) << "the viewer page is served at /";
  EXPECT_EQ(RawGet(port, "/node_modules/cesium/Build/Cesium/Cesium.js").contentType, "text/javascript; charset=utf-8");
  EXPECT_EQ(RawGet(port, "/out/%2e%2e/view.out").status, 403);
  EXPECT_NE(view.Err().find("refused GET /out/%2e%2e/view.out"), std::string::npos) << view.Err();

  // A second server on the same port is refused with the reason.
  fs::create_directories(Path("second"));
  ViewProcess second({Path("out"), "--port", std::to_string(port)}, Path("second"));
  EXPECT_EQ(second.Wait(20), 1);
  EXPECT_NE(second.Err().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << second.Err();

  // Neither a connection left open (as a browser keeps one) nor one whose
  // request trickles in a byte at a time (it kept a worker, and the stop
  // waited for it, as long as the bytes came) holds up the stop.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int idle = socket(AF_INET, SOCK_STREAM, 0);
  const int slow = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(idle, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    const std::string start = "GET /out/3dtiles/tileset.json HTTP/1.1\r\nX-Slow: ";
    send(slow, start.data(), start.size(), MSG_NOSIGNAL);
    while (trickling && send(slow, "a", 1, MSG_NOSIGNAL) == 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(kill(view.pid, SIGINT), 0);
  const int stopped = view.Wait(10);
  trickling = false;
  trickle.join();
  close(idle);
  close(slow);
  EXPECT_EQ(stopped, 0) << view.Err();
  EXPECT_NE(view.Out().find("Stopped"), std::string::npos) << view.Out();
}

TEST_F(ViewCommandTest, RefusesWhatItCannotServe) {
  kmztest::CliRun run = kmztest::RunCli("view '" + Path("missing") + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(Path("missing") + ": no such output folder"), std::string::npos) << run.err;
  kmztest::WriteFile(Path("kmz-only/tileset.json"), "{}");
  run = kmztest::RunCli("view '" + Path("kmz-only") + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("holds no 3D Tiles (3dtiles/tileset.json)"), std::string::npos) << run.err;
  run = kmztest::RunCli("view '" + Path("kmz-only") + "' --port 70000");
  EXPECT_EQ(run.exitCode, 2) << run.err;
}

}  // namespace
