#include "reading/detail/ArchiveHandles.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/LastError.h"

namespace kmztile::reading::detail {
namespace {

struct OpenArchive {
  kmlengine::KmzFile* archive = nullptr;  // owns the handle's reference
  std::shared_ptr<const ArchiveIndex> index;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, OpenArchive> open;
  std::atomic<std::size_t> destroyed{0};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool UnknownHandle() {
  platform::SetLastError("no archive is open under this handle (never opened, or closed already)");
  return false;
}

}  // namespace

long* OpenArchiveHandle(const kmlengine::KmzFilePtr& archive, std::shared_ptr<const ArchiveIndex> index) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.open[archive.get()] = OpenArchive{archive.get(), std::move(index)};
  archive->add_ref();  // the handle's reference, dropped by CloseArchiveHandle
  return reinterpret_cast<long*>(archive.get());
}

bool LeaseArchiveHandle(const long* handle, HandleLease& lease) {
  if (!handle) return UnknownHandle();
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.open.find(handle);
  if (it == r.open.end()) return UnknownHandle();
  lease.archive_ = it->second.archive;
  lease.index_ = it->second.index;
  return true;
}

HandleLease::~HandleLease() {
  if (!archive_) return;
  std::lock_guard<std::mutex> lock(TheRegistry().mutex);
  archive_.reset();
}

bool CloseArchiveHandle(const long* handle) {
  if (!handle) return UnknownHandle();
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.open.find(handle);
  if (it == r.open.end()) return UnknownHandle();
  kmlengine::KmzFilePtr last(it->second.archive);  // temporary reference
  it->second.archive->release();                   // the handle's reference: a plain decrement, never deletes
  r.open.erase(it);
  if (last->get_ref_count() == 1) r.destroyed.fetch_add(1);
  last.reset();  // the normal release: destroys the archive at count 0
  return true;
}

std::size_t OpenArchiveHandleCount() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.open.size();
}

std::size_t DestroyedArchiveCount() { return TheRegistry().destroyed.load(); }

}  // namespace kmztile::reading::detail
