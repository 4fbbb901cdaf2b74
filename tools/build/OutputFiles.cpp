#include "build/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;
using kmztile::platform::FileOp;

namespace kmztool::build {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// "cannot VERB PATH: WHAT (system reason)", or without WHAT "cannot VERB PATH: system reason".
[[noreturn]] void Fail(const std::string& verb, const std::string& path, const std::string& what, int err) {
  const std::string cause = std::strerror(err);
  throw std::runtime_error("cannot " + verb + " " + path + ": " + (what.empty() ? cause : what + " (" + cause + ")"));
}
[[noreturn]] void Fail(const std::string& path, const std::string& what, int err) { Fail("write", path, what, err); }

const char kNotAPlainFile[] = "it is not a plain file (a link, folder or FIFO stands in its place); remove it";

// An operation the seam fails looks to the caller like an I/O error.
bool Injected(FileOp op) {
  if (!kmztile::platform::InjectedFault(op)) return false;
  errno = EIO;
  return true;
}

// Opens @p path for writing; -1 with errno set when it cannot be.
int OpenForWriting(const std::string& path, int flags) {
  if (Injected(FileOp::Open)) return -1;
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
}

// Writes all of @p data; false with errno set when it cannot.
bool WriteAll(int fd, const std::string& data) {
  if (Injected(FileOp::Write)) return false;
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void CreateFolders(const std::string& path) {
  if (Injected(FileOp::Directory)) Fail("create the folder", path, "", errno);
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) Fail("create the folder", path, "", ec.value());
}

void RefuseLinkedFolders(const std::string& out, const std::vector<std::string>& files) {
  std::set<fs::path> seen;
  for (const std::string& file : files)
    for (fs::path folder = fs::path(file).parent_path(); !folder.empty() && seen.insert(folder).second;
         folder = folder.parent_path()) {
      std::error_code ec;
      if (fs::is_symlink(fs::path(out) / folder, ec))
        throw std::runtime_error("cannot write " + (fs::path(out) / folder).string() +
                                 ": it is a symbolic link, and the build writes only inside its output folder; "
                                 "remove it");
    }
}

void RemoveTree(const std::string& path) {
  if (Injected(FileOp::Directory)) Fail("remove", path, "", errno);
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) Fail("remove", path, "", ec.value());
}

bool RemoveOneFile(const std::string& path) {
  if (Injected(FileOp::Directory)) Fail("remove", path, "", errno);
  if (::unlink(path.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  Fail("remove", path, "", errno);
}

bool ReadStateFile(const std::string& path, std::string& text) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory) Fail("read", path, "", ec.value());
    return false;
  }
  // The build's records are its own files: what stands in their place is
  // not read (a FIFO would never end), nor a link followed out of the folder.
  if (!fs::is_regular_file(status)) throw std::runtime_error("cannot read " + path + ": " + kNotAPlainFile);
  errno = 0;
  if (!kmztile::platform::ReadPlainFile(path, text)) Fail("read", path, "", errno ? errno : EIO);
  return true;
}

std::vector<std::string> ListFolder(const std::string& path) {
  if (Injected(FileOp::Directory)) Fail("list", path, "", errno);
  std::vector<std::string> names;
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return names;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (ec) Fail("list", path, "", ec.value());
  std::sort(names.begin(), names.end());
  return names;
}

void AppendToFile(const std::string& path, const std::string& line) {
  AppendFile file(path);
  file.Append(line);
  file.Close();
}

AppendFile::AppendFile(std::string path) : path_(std::move(path)) {}

AppendFile::~AppendFile() {
  if (fd_ >= 0) ::close(fd_);
}

void AppendFile::Append(const std::string& line) {
  if (fd_ < 0) {
    // Neither a link (it may lead out of the output folder) nor a FIFO (an
    // open for writing would wait for a reader) is taken for the file.
    fd_ = OpenForWriting(path_, O_APPEND | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (fd_ < 0 && errno != ELOOP && errno != ENXIO) Fail(path_, "cannot open it", errno);
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      Close();
      throw std::runtime_error("cannot write " + path_ + ": " + kNotAPlainFile);
    }
  }
  if (!WriteAll(fd_, line)) Fail(path_, "write failed", errno);
}

void AppendFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd < 0) return;
  // Lines written after the file was removed (or replaced) went nowhere.
  struct stat st {};
  const bool removed = ::fstat(fd, &st) == 0 && st.st_nlink == 0;
  if (::close(fd) != 0) Fail(path_, "write failed", errno);
  if (removed) throw std::runtime_error("cannot write " + path_ + ": it was removed while it was written; lines are lost");
}

void WriteFileAtomically(const std::string& path, const std::string& data, bool durable) {
  bool given = false;
  WriteFileAtomically(path, [&]() -> const std::string* { return given ? nullptr : (given = true, &data); }, durable);
}

void WriteFileAtomically(const std::string& path, const std::function<const std::string*()>& next, bool durable) {
  // The process id keeps two workers writing the same tile from sharing a temporary file.
  const std::string temporary = path + "." + std::to_string(kmztile::platform::ProcessId()) + ".partial";
  Fd file;
  file.fd = OpenForWriting(temporary, O_TRUNC);
  // Most files go to a folder that exists already (a tile's row folder holds
  // many tiles): its parents are made only when the file cannot be created
  // for want of them, which saves a look at the folder per file.
  const fs::path target(path);
  if (file.fd < 0 && errno == ENOENT && target.has_parent_path()) {
    if (Injected(FileOp::Directory)) Fail(path, "cannot create its folder", errno);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) Fail(path, "cannot create its folder", ec.value());
    file.fd = OpenForWriting(temporary, O_TRUNC);
  }
  if (file.fd < 0) Fail(path, "cannot create " + temporary, errno);
  try {
    for (const std::string* data = next(); data; data = next())
      if (!WriteAll(file.fd, *data)) {
        const int err = errno;
        ::unlink(temporary.c_str());
        Fail(path, "write failed", err);
      }
  } catch (...) {
    // The pieces' maker failed: no half-made file stays behind either.
    ::unlink(temporary.c_str());
    throw;
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
  if (Injected(FileOp::Rename) || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    Fail(path, "rename failed", err);
  }
}

}  // namespace kmztool::build
