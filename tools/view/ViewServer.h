#pragma once
// The HTTP server of `kmztile view`: a build's output folder under /out/ and
// the viewer page at /, on the loopback address only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "view/ServedFolders.h"

namespace httplib {
class Server;
}

namespace kmztool::view {

class ViewServer {
 public:
  /**
   * Serves @p folders (ServedFolder, first matching prefix wins); requests
   * JudgePath refuses are answered 403 and reported through @p onRefused.
   */
  ViewServer(std::vector<ServedFolder> folders, std::function<void(const std::string&)> onRefused = {});
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  /**
   * Binds 127.0.0.1:@p port (0: a free port the system picks).
   * @return the port bound, or -1 with a reason in @p error.
   */
  int Bind(int port, std::string& error);

  /** Answers requests until Stop(); call after Bind. @return false when the server failed. */
  bool Run();

  /** Makes Run return; safe from any thread, before or during Run. */
  void Stop();

 private:
  std::vector<ServedFolder> folders_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace kmztool::view
