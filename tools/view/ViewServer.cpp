#include "view/ViewServer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <httplib.h>
#include <sys/socket.h>

namespace fs = std::filesystem;

namespace kmztool::view {
namespace {

// Streams @p file as the response, uncompressed: a sized content provider
// keeps the library from compressing (its brotli would take seconds for
// CesiumJS) and from holding large files in memory; ranges still work.
bool ServeFile(const std::string& file, httplib::Response& response) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  const auto size = fs::file_size(file, ec);
  auto stream = std::make_shared<std::ifstream>(file, std::ios::binary);
  if (ec || !*stream) return false;
  response.set_content_provider(
      static_cast<std::size_t>(size), ContentTypeOf(file),
      [stream](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        char buffer[64 * 1024];
        stream->clear();
        stream->seekg(static_cast<std::streamoff>(offset));
        const auto wanted = static_cast<std::streamsize>(std::min(length, sizeof buffer));
        stream->read(buffer, wanted);
        const std::streamsize got = stream->gcount();
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
    if (judgement.verdict != PathVerdict::kServe || !ServeFile(judgement.file, response)) {
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
