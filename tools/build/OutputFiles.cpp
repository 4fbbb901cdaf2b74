#include "build/OutputFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace kmztool::build {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

[[noreturn]] void Fail(const std::string& path, const std::string& what, int err) {
  throw std::runtime_error("cannot write " + path + ": " + what + " (" + std::strerror(err) + ")");
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& data, bool durable) {
  const std::filesystem::path target(path);
  std::error_code ec;
  if (target.has_parent_path()) {
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) Fail(path, "cannot create its folder", ec.value());
  }
  // The process id keeps two workers writing the same tile from sharing a temporary file.
  const std::string temporary = path + "." + std::to_string(::getpid()) + ".partial";
  Fd file;
  file.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file.fd < 0) Fail(path, "cannot create " + temporary, errno);
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(file.fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::unlink(temporary.c_str());
      Fail(path, "write failed", err);
    }
    written += static_cast<size_t>(n);
  }
  const bool synced = !durable || ::fsync(file.fd) == 0;
  int err = errno;
  const bool closed = ::close(file.fd) == 0;
  file.fd = -1;
  if (!synced || !closed) {
    if (synced) err = errno;
    ::unlink(temporary.c_str());
    Fail(path, "flush failed", err);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    Fail(path, "rename failed", err);
  }
}

}  // namespace kmztool::build
