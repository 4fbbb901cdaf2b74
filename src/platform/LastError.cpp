#include "platform/LastError.h"

namespace kmztile::platform {
namespace {

std::string& Slot() {
  thread_local std::string reason;
  return reason;
}

}  // namespace

void SetLastError(std::string reason) { Slot() = std::move(reason); }

void ClearLastError() { Slot().clear(); }

const std::string& LastError() { return Slot(); }

void SetLastErrorNoThrow(const char* reason) noexcept {
  try {
    Slot() = reason;
  } catch (...) {
    Slot().clear();
  }
}

}  // namespace kmztile::platform
