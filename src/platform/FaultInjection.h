#pragma once
// A test seam over the platform layer, the one place that does file I/O:
// tests can make the k-th operation of a kind fail to check that callers
// keep the user's files intact. Disarmed it costs one relaxed atomic load.
#include <cstdint>

namespace kmztile::platform {

/** Kinds of file operations the seam can fail. */
enum class FileOp : std::uint8_t { Open, Write, Rename, Directory };

/** Arms the seam: the @p k-th (1-based) operation of @p op from now on fails; 0 disarms it. */
void FailNthOperation(FileOp op, long k);
/** Disarms the seam for every kind. */
void ResetFaultInjection();
/** True while an armed fault of @p op has not fired yet (the operation count stayed below k). */
bool FaultPending(FileOp op);
/** Called by the platform layer before an operation; true when it must fail. */
bool InjectedFault(FileOp op);

}  // namespace kmztile::platform
