#pragma once
// Why the last archive operation of this thread failed, in a few words
// ("entry doc.kml: CRC mismatch", "overlapping central records"). The public
// calls keep answering with a bool; the command prints this reason beside
// the file name. Each thread has its own reason, so parallel readers never
// see each other's.
#include <exception>
#include <new>
#include <string>

namespace kmztile::platform {

/** Records @p reason as the calling thread's last failure. */
void SetLastError(std::string reason);

/** Forgets the calling thread's last failure (done when a public call starts). */
void ClearLastError();

/** The calling thread's last failure, empty when none was recorded. */
const std::string& LastError();

/** SetLastError for a catch block: never throws, keeps what fits in memory. */
void SetLastErrorNoThrow(const char* reason) noexcept;

/**
 * Runs the body of a public call that answers with a bool: the last error
 * is cleared first and after a success (a tolerated failure inside leaves
 * no reason behind), and an exception (out of memory on a huge archive, a
 * failure inside a library) becomes false with its reason instead of
 * unwinding into the host.
 */
template <class Body>
bool GuardedCall(Body&& body) noexcept {
  try {
    ClearLastError();
    const bool ok = body();
    if (ok) ClearLastError();
    return ok;
  } catch (const std::bad_alloc&) {
    SetLastErrorNoThrow("out of memory");
  } catch (const std::exception& e) {
    SetLastErrorNoThrow(e.what());
  } catch (...) {
    SetLastErrorNoThrow("unexpected failure");
  }
  return false;
}

}  // namespace kmztile::platform
