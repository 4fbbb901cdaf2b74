#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/FaultInjection.h"
#include "platform/Paths.h"

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
    struct stat st {};
    if (last.empty() || ::stat(native.c_str(), &st) != 0) return false;
    out.push_back({last, S_ISDIR(st.st_mode)});
    return true;
  }
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (!MatchName(last, name)) continue;
    bool isDir = false;
    if (e->d_type == DT_DIR) {
      isDir = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st {};
      isDir = ::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    out.push_back({name, isDir});
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

bool OpenInput(std::ifstream& in, const std::string& path, bool binary) {
  if (InjectedFault(FileOp::Open)) return false;
  const std::string native = NativePath(path);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  in.open(native, binary ? std::ios::in | std::ios::binary : std::ios::in);
  return in.is_open();
}

bool OpenOutput(std::ofstream& out, const std::string& path, bool binary) {
  if (InjectedFault(FileOp::Open)) return false;
  out.open(NativePath(path), binary ? std::ios::out | std::ios::binary | std::ios::trunc
                                    : std::ios::out | std::ios::trunc);
  return out.is_open();
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

}  // namespace

// Whole-file reads and writes go straight to the system calls: they run
// several times per tile, and a stream adds a stat, seeks and a buffer.
bool ReadWholeFile(const std::string& path, std::string& out) {
  if (InjectedFault(FileOp::Open)) return false;
  const Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
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

bool WriteWholeFile(const std::string& path, const std::string& data) {
  if (InjectedFault(FileOp::Open)) return false;
  Descriptor file(::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.fd < 0 || InjectedFault(FileOp::Write)) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(file.fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return file.Close();
}

std::string TemporarySibling(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  const std::string temp = TemporarySibling(path);
  if (!WriteWholeFile(temp, data)) {
    RemoveFile(temp);
    return false;
  }
  if (!RenamePath(temp, path)) {
    RemoveFile(temp);
    return false;
  }
  return true;
}

}  // namespace kmztile::platform
