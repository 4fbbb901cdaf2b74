#include "view/ViewServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <httplib.h>

namespace kmztool::view {
namespace {

// An open file, closed when the last response streaming it is done.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

// Brings the byte ranges a client asked for within a file of @p size bytes:
// each becomes first-last inclusive, its end cut at the end of the file,
// and several are joined into the one range that spans them all (a client
// must accept that). The library takes ranges as given: a range past the
// end would announce more bytes than it sends, or a length that wrapped.
// @return false when no asked range lies within the file.
bool FitRanges(httplib::Ranges& ranges, std::size_t size) {
  const auto last = static_cast<ssize_t>(size) - 1;
  ssize_t from = -1, to = -1;
  for (const auto& [first, end] : ranges) {
    ssize_t a = first, b = end;
    if (a < 0) {  // the last b bytes
      if (b <= 0) continue;
      a = std::max<ssize_t>(0, last + 1 - b);
      b = last;
    } else if (b < 0 || b > last) {
      b = last;
    }
    if (a > last || a > b) continue;
    from = from < 0 ? a : std::min(from, a);
    to = std::max(to, b);
  }
  if (from < 0) return false;
  ranges.assign(1, {from, to});
  return true;
}

// Streams @p file as the response, uncompressed: a sized content provider
// keeps the library from compressing (its brotli would take seconds for
// CesiumJS) and from holding large files in memory; ranges still work.
// The file is opened without blocking and checked once open, so a FIFO or
// device put in its place after the path was judged is never waited on.
bool ServeFile(const std::string& file, const httplib::Request& request, httplib::Response& response) {
  auto open = std::make_shared<OpenFile>();
  open->fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (open->fd < 0 || ::fstat(open->fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const auto size = static_cast<std::size_t>(st.st_size);
  if (!request.ranges.empty()) {
    // The handler gets the request as const, but the library's own request
    // object is not: fitting the ranges here is what it then sends.
    auto& ranges = const_cast<httplib::Ranges&>(request.ranges);
    if (!FitRanges(ranges, size)) {
      ranges.clear();
      response.status = 416;
      response.set_header("Content-Range", "bytes */" + std::to_string(size));
      return true;
    }
  }
  response.set_content_provider(
      size, ContentTypeOf(file),
      [open](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        char buffer[64 * 1024];
        const ssize_t got = ::pread(open->fd, buffer, std::min(length, sizeof buffer), static_cast<off_t>(offset));
        // A file that shrank while being sent ends the connection rather
        // than sending fewer bytes than announced.
        return got > 0 && sink.write(buffer, static_cast<std::size_t>(got));
      });
  return true;
}

}  // namespace

ViewServer::ViewServer(std::vector<ServedFolder> folders, std::function<void(const std::string&)> onRefused)
    : folders_(std::move(folders)), server_(std::make_unique<httplib::Server>()) {
  // A browser keeps idle connections open; they close after two quiet
  // seconds, so stopping the server waits no longer than that.
  server_->set_keep_alive_timeout(2);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server take the same port and share its requests; address reuse alone
  // still lets a stopped server's port be taken again at once.
  server_->set_socket_options([](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // One handler for every GET (and HEAD): JudgePath decides what may be
  // read; anything else is 404.
  server_->Get("/.*", [this, onRefused](const httplib::Request& request, httplib::Response& response) {
    const PathJudgement judgement = JudgePath(folders_, request.path);
    if (judgement.verdict == PathVerdict::kRefuse) {
      if (onRefused) onRefused(request.method + " " + request.target + ": " + judgement.reason);
      response.status = 403;
      response.set_content("Refused: " + judgement.reason + "\n", "text/plain");
      return;
    }
    if (judgement.verdict != PathVerdict::kServe || !ServeFile(judgement.file, request, response)) {
      response.status = 404;
      response.set_content("Not found\n", "text/plain");
    }
  });
}

ViewServer::~ViewServer() { Stop(); }

int ViewServer::Bind(int port, std::string& error) {
  errno = 0;
  const int bound =
      port == 0 ? server_->bind_to_any_port("127.0.0.1") : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound < 0) {
    const int cause = errno;
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (" +
            (cause != 0 ? std::strerror(cause) : "the port is taken or not allowed") + ")";
  }
  return bound;
}

bool ViewServer::Run() { return server_->listen_after_bind(); }

void ViewServer::Stop() { server_->stop(); }

}  // namespace kmztool::view
