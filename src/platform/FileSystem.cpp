#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/FaultInjection.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

namespace kmztile::platform {
namespace {

// Case-insensitive wildcard match of the desktop platform: "*" any run,
// "?" one character; "*.*" matches every name, with or without a dot.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = pattern++;
      starN = name;
    } else if (*pattern == '?' ||
               std::tolower(static_cast<unsigned char>(*pattern)) == std::tolower(static_cast<unsigned char>(*name))) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP + 1;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool MatchName(const std::string& pattern, const std::string& name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return WildcardMatch(pattern.c_str(), name.c_str());
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// Why a listed entry is left out, or nullptr when it is listed. Names are
// data: a name holding a backslash would become a path with separators
// once the library joins it, so it is never handed out. Symbolic links are
// not followed (a link may lead out of the folder, or back into it without
// end), and neither are FIFOs, sockets or devices, which can block a read.
const char* SkipReason(const std::string& name, mode_t mode) {
#ifndef _WIN32
  if (name.find('\\') != std::string::npos)
    return "the name holds a backslash, which the library reads as a folder separator; skipped";
#endif
  if (S_ISLNK(mode)) return "is a symbolic link; links are not followed, so it is skipped";
  if (!S_ISREG(mode) && !S_ISDIR(mode)) return "is neither a plain file nor a folder (a FIFO, socket or device); skipped";
  return nullptr;
}

}  // namespace

bool FindEntries(const std::string& pattern, std::vector<DirEntry>& out) {
  out.clear();
  if (InjectedFault(FileOp::Directory)) return false;
  const std::string native = NativePath(pattern);
  const auto slash = native.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : native.substr(0, slash);
  if (folder.empty()) folder = "/";
  const std::string last = slash == std::string::npos ? native : native.substr(slash + 1);
  if (last.find_first_of("*?") == std::string::npos) {
    // One named entry: a link to a folder is not taken for the folder.
    struct stat st {};
    if (last.empty() || ::lstat(native.c_str(), &st) != 0) return false;
    out.push_back({last, S_ISDIR(st.st_mode)});
    return true;
  }
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  const int dirFd = ::dirfd(dir.get());
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (!MatchName(last, name)) continue;
    if (name == "." || name == "..") {
      out.push_back({name, true});
      continue;
    }
    // The entry's own type (never its link target's); a stat only when the
    // file system does not say.
    mode_t mode = DTTOIF(e->d_type);
    if (e->d_type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      mode = st.st_mode;
    }
    if (const char* reason = SkipReason(name, mode)) {
      ReportProblem(folder + "/" + name, reason);
      continue;
    }
    out.push_back({name, S_ISDIR(mode)});
  }
  std::sort(out.begin(), out.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return !out.empty();
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PathKind KindOf(const std::string& path) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
}

PathKind EntryKindOf(const std::string& path) {
  struct stat st {};
  if (::lstat(NativePath(path).c_str(), &st) != 0) return PathKind::Missing;
  return S_ISLNK(st.st_mode) ? PathKind::Link : S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool MakeDirectory(const std::string& path) {
  if (InjectedFault(FileOp::Directory)) return false;
  return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
  if (InjectedFault(FileOp::Directory)) return false;
  return ::rmdir(NativePath(path).c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
  if (InjectedFault(FileOp::Directory)) return false;
  return ::unlink(NativePath(path).c_str()) == 0;
}

bool RenamePath(const std::string& from, const std::string& to) {
  if (InjectedFault(FileOp::Rename)) return false;
  return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool StatFile(const std::string& path, std::uint64_t& size, std::int64_t& mtimeNs) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

std::string WhyUnreadable(const std::string& path) {
  const std::string native = NativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT ? "is missing" : std::string("cannot be examined: ") + std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "is a symbolic link, which is not followed";
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "is not a plain file (a FIFO, socket or device)";
  if (::access(native.c_str(), R_OK) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  return "cannot be read (an input/output error)";
}

namespace {

// Closes a file descriptor when it goes out of scope, unless Close did.
struct Descriptor {
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  // Closes now; false when the system reports a failure (a write that did
  // not reach the file, on some file systems).
  bool Close() {
    const int f = fd;
    fd = -1;
    return ::close(f) == 0;
  }
  int fd;
};

// Whole-file reads and writes go straight to the system calls: they run
// several times per tile, and a stream adds a stat, seeks and a buffer.
// A FIFO or device is opened without blocking and refused once examined.
bool ReadRegularFile(const std::string& path, std::string& out, int extraFlags) {
  if (InjectedFault(FileOp::Open)) return false;
  const Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags));
  struct stat st {};
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string data(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(file.fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank while read
    done += static_cast<size_t>(n);
  }
  out.swap(data);
  return true;
}

// Writes a file that does not exist yet: an existing file (or a link left
// where the new file belongs) is never opened for writing. @p created says
// whether a file was made, so that only a file of ours is cleaned up.
bool WriteNewFile(const std::string& path, const std::string& data, mode_t mode, bool& created) {
  created = false;
  if (InjectedFault(FileOp::Open)) return false;
  Descriptor file(::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
  created = file.fd >= 0;
  if (file.fd < 0 || InjectedFault(FileOp::Write)) return false;
  if (mode != 0 && ::fchmod(file.fd, mode) != 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(file.fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return file.Close();
}

}  // namespace

bool OpenInput(std::ifstream& in, const std::string& path, bool binary) {
  if (InjectedFault(FileOp::Open)) return false;
  // The file is opened without blocking and examined, then the stream opens
  // that same file through the descriptor: a FIFO put in its place between a
  // look at the name and the stream's open would wait for a writer forever.
  const Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Without /proc (a bare chroot) only the name is left to open.
  static const bool haveProc = ::access("/proc/self/fd", X_OK) == 0;
  const auto mode = binary ? std::ios::in | std::ios::binary : std::ios::in;
  in.open(haveProc ? "/proc/self/fd/" + std::to_string(file.fd) : NativePath(path), mode);
  return in.is_open();
}

bool ReadWholeFile(const std::string& path, std::string& out) { return ReadRegularFile(path, out, 0); }

bool OpensAsPlainFile(const std::string& path) {
  if (InjectedFault(FileOp::Open)) return false;
  const Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  struct stat st {};
  return file.fd >= 0 && ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadFilePieces(const std::string& path, const std::function<void(const char* data, std::size_t size)>& take,
                    std::uint64_t* size, std::int64_t* mtimeNs) {
  if (InjectedFault(FileOp::Open)) return false;
  const Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = static_cast<std::uint64_t>(st.st_size);
  if (mtimeNs) *mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  // The size the file had when opened is read, as ReadWholeFile does.
  std::array<char, 1 << 16> buffer;  // left uninitialised: read fills what is used
  std::size_t left = static_cast<std::size_t>(st.st_size);
  while (left > 0) {
    const ssize_t n = ::read(file.fd, buffer.data(), std::min(left, buffer.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank while read
    take(buffer.data(), static_cast<std::size_t>(n));
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadPlainFile(const std::string& path, std::string& out) { return ReadRegularFile(path, out, O_NOFOLLOW); }

bool WriteWholeFile(const std::string& path, const std::string& data) { return WriteFileAtomically(path, data); }

bool CopyPermissions(const std::string& original, const std::string& replacement) {
  struct stat st {};
  return ::stat(NativePath(original).c_str(), &st) == 0 &&
         ::chmod(NativePath(replacement).c_str(), st.st_mode & 07777) == 0;
}

namespace {
std::atomic<long> knownProcessId{0};
}  // namespace

long ProcessId() {
  long pid = knownProcessId.load(std::memory_order_relaxed);
  if (pid != 0) return pid;
  // A child made by fork forgets the id it copied from its parent.
  static const bool forgetInChild = pthread_atfork(nullptr, nullptr, [] { knownProcessId.store(0); }) == 0;
  pid = static_cast<long>(::getpid());
  if (forgetInChild) knownProcessId.store(pid, std::memory_order_relaxed);
  return pid;
}

std::string TemporarySibling(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp." + std::to_string(ProcessId()) + "." + std::to_string(counter++);
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  // The replacement keeps the permissions of the file it replaces (a
  // read-only file stays read-only); a new file gets the usual ones.
  struct stat st {};
  const mode_t mode = ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : 0;
  const std::string temp = TemporarySibling(path);
  bool created = false;
  if (!WriteNewFile(temp, data, mode, created)) {
    if (created) RemoveFile(temp);
    return false;
  }
  if (!RenamePath(temp, path)) {
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace kmztile::platform
