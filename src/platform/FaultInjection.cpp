#include "platform/FaultInjection.h"

#include <atomic>
#include <cstdlib>

namespace kmztile::platform {
namespace {
constexpr int kKinds = 5;
constexpr const char* kNames[kKinds] = {"open", "write", "rename", "directory", "fork"};
std::atomic<long> g_remaining[kKinds] = {};
std::atomic<bool> g_armed{false};
// The fault armed from the environment, for UnfiredEnvironmentFault.
int g_environmentKind = -1;
long g_environmentIndex = 0;
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

const char* FaultName(FileOp op) { return kNames[static_cast<int>(op)]; }

bool ArmFaultFromEnvironment(std::string& error) {
  const char* text = std::getenv("KMZTILE_FAIL_NTH");
  if (!text || !*text) return true;
  const std::string value = text;
  const auto colon = value.find(':');
  const std::string kind = value.substr(0, colon == std::string::npos ? 0 : colon);
  char* end = nullptr;
  const long k = colon == std::string::npos ? 0 : std::strtol(value.c_str() + colon + 1, &end, 10);
  for (int i = 0; i < kKinds; ++i) {
    if (kind != kNames[i] || k < 1 || !end || *end != '\0') continue;
    FailNthOperation(static_cast<FileOp>(i), k);
    g_environmentKind = i;
    g_environmentIndex = k;
    return true;
  }
  error = "KMZTILE_FAIL_NTH='" + value + "' is not KIND:K with KIND open, write, rename, directory or fork and K >= 1";
  return false;
}

std::string UnfiredEnvironmentFault() {
  if (g_environmentKind < 0 || !FaultPending(static_cast<FileOp>(g_environmentKind))) return "";
  const long done = g_environmentIndex - g_remaining[g_environmentKind].load();
  return std::string(kNames[g_environmentKind]) + " #" + std::to_string(g_environmentIndex) +
         " was not reached: this run did " + std::to_string(done) + " " + kNames[g_environmentKind] + " operation(s)";
}

}  // namespace kmztile::platform
