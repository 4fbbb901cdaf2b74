#include "platform/FaultInjection.h"

#include <atomic>

namespace kmztile::platform {
namespace {
constexpr int kKinds = 4;
std::atomic<long> g_remaining[kKinds] = {};
std::atomic<bool> g_armed{false};
}  // namespace

void FailNthOperation(FileOp op, long k) {
  g_remaining[static_cast<int>(op)].store(k < 0 ? 0 : k);
  bool any = false;
  for (auto& r : g_remaining) any = any || r.load() > 0;
  g_armed.store(any);
}

void ResetFaultInjection() {
  for (auto& r : g_remaining) r.store(0);
  g_armed.store(false);
}

bool FaultPending(FileOp op) { return g_remaining[static_cast<int>(op)].load() > 0; }

bool InjectedFault(FileOp op) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  auto& remaining = g_remaining[static_cast<int>(op)];
  long left = remaining.load();
  while (left > 0) {
    if (remaining.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

}  // namespace kmztile::platform
