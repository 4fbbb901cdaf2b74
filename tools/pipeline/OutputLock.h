#pragma once
// An exclusive lock on an output folder while a build changes its state, so
// that shards of one build started together do not remove each other's work.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

namespace kmztool::pipeline {

class OutputLock {
 public:
  explicit OutputLock(const std::filesystem::path& out)
      : fd_(::open((out / ".kmztile.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~OutputLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  int fd_;
};

}  // namespace kmztool::pipeline
