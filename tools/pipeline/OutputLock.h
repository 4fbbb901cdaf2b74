#pragma once
// An exclusive lock on an output folder while a build changes its state, so
// that shards of one build started together do not remove each other's work.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/FaultInjection.h"

namespace kmztool::pipeline {

class OutputLock {
 public:
  /** @throws std::runtime_error naming the lock file when it cannot be opened or locked */
  explicit OutputLock(const std::filesystem::path& out) {
    const std::filesystem::path path = out / ".kmztile.lock";
    const bool injected = kmztile::platform::InjectedFault(kmztile::platform::FileOp::Open);
    fd_ = injected ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int err = injected ? EIO : errno;
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
      return;
    }
    throw std::runtime_error("cannot lock " + path.string() + ": " + std::strerror(err));
  }
  ~OutputLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace kmztool::pipeline
