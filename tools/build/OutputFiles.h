#pragma once
// The command's own file operations on an output folder, through the
// platform's fault-injection seam like the library's. Writes never leave a
// half-written file under the final name; every failure throws a
// std::runtime_error whose message names the file and the cause.
#include <functional>
#include <string>
#include <vector>

namespace kmztool::build {

/**
 * Writes @p data to a temporary sibling of @p path (same folder, name ending
 * in ".partial") and renames it over @p path, so readers see the old file
 * or the whole new one. With @p durable the data is synced to disk before
 * the rename (slower; for files that must survive a power cut). Parent
 * folders are created. On failure the temporary file is removed.
 * @throws std::runtime_error naming the path and the reason
 */
void WriteFileAtomically(const std::string& path, const std::string& data, bool durable = false);

/**
 * WriteFileAtomically for a file made in pieces: @p next gives the next
 * piece, or null after the last, so a large file is never whole in memory.
 * @throws std::runtime_error naming the path and the reason
 */
void WriteFileAtomically(const std::string& path, const std::function<const std::string*()>& next,
                         bool durable = false);

/** Appends @p line to @p path (created when missing) in one write. @throws std::runtime_error */
void AppendToFile(const std::string& path, const std::string& line);

/**
 * A file lines are appended to, each in one write, kept open from the first
 * line to Close (or destruction): for a record that grows by a line per
 * tile. The file is created when missing.
 */
class AppendFile {
 public:
  explicit AppendFile(std::string path);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  /** @throws std::runtime_error naming the file and the cause */
  void Append(const std::string& line);
  /** Closes the file; the next line opens it again. @throws std::runtime_error when the close fails */
  void Close();

 private:
  std::string path_;
  int fd_ = -1;
};

/**
 * Refuses symbolic links among the folders of @p files (paths relative to
 * @p out) inside @p out: a link there would take the files out of the
 * output folder. Each folder is looked at once.
 * @throws std::runtime_error naming the link
 */
void RefuseLinkedFolders(const std::string& out, const std::vector<std::string>& files);

/** Creates a folder and its parents. @throws std::runtime_error naming the folder */
void CreateFolders(const std::string& path);

/** Removes a file or a folder with all it holds; nothing there is no failure. @throws std::runtime_error */
void RemoveTree(const std::string& path);

/** Removes one file. @return false when there was none. @throws std::runtime_error when it stays */
bool RemoveOneFile(const std::string& path);

/** Reads a whole file. @return false when there is none. @throws std::runtime_error when it cannot be read */
bool ReadStateFile(const std::string& path, std::string& text);

/** The names in a folder, sorted; none when it does not exist. @throws std::runtime_error when it cannot be listed */
std::vector<std::string> ListFolder(const std::string& path);

}  // namespace kmztool::build
