#pragma once
// A test seam over the platform layer, the one place that does file I/O:
// tests can make the k-th operation of a kind fail to check that callers
// keep the user's files intact. Disarmed it costs one relaxed atomic load.
// The command's own I/O (its state, lock, tiles, index files and worker
// processes) goes through the same seam, and a whole command run can be
// armed from its environment (KMZTILE_FAIL_NTH), so that tests can fail
// every operation of a build in turn.
#include <cstdint>
#include <string>

namespace kmztile::platform {

/** Kinds of operations the seam can fail. */
enum class FileOp : std::uint8_t { Open, Write, Rename, Directory, Fork };

/** Arms the seam: the @p k-th (1-based) operation of @p op from now on fails; 0 disarms it. */
void FailNthOperation(FileOp op, long k);
/** Disarms the seam for every kind. */
void ResetFaultInjection();
/** True while an armed fault of @p op has not fired yet (the operation count stayed below k). */
bool FaultPending(FileOp op);
/** Called by the platform layer before an operation; true when it must fail. */
bool InjectedFault(FileOp op);

/** The name of a kind as KMZTILE_FAIL_NTH spells it ("open", "write", "rename", "directory", "fork"). */
const char* FaultName(FileOp op);

/**
 * Arms the seam from the environment variable KMZTILE_FAIL_NTH="KIND:K"
 * (e.g. "write:3"), when it is set. @return false with @p error when it is
 * set but malformed.
 */
bool ArmFaultFromEnvironment(std::string& error);

/**
 * "write #30 was not reached: this run did 12 write operation(s)" while a
 * fault armed from the environment has not fired; empty otherwise.
 */
std::string UnfiredEnvironmentFault();

}  // namespace kmztile::platform
