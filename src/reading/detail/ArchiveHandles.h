#pragma once
// The archive handles given out by ReadKmzToListEx. A handle is the address
// of an open libkml KmzFile on which it owns one reference. Entries are not
// read through libkml (its ReadFile rescans the directory on every call and
// skips the CRC check) but through the ArchiveIndex built when the archive
// was opened; a small process-wide registry, keyed by the archive object's
// address, keeps that index alive beside the archive until the handle is
// closed. Looking a handle up in the registry before touching it also turns
// a null, closed or foreign handle into a plain failure. The archive's
// reference count is changed only under the registry's lock, so reads on one
// handle may even overlap in time; closing while reads run is safe too (the
// last lease destroys the archive).
#include <memory>

#include "kml/engine.h"
#include "reading/KmzSource.h"

namespace kmztile::reading::detail {

/**
 * A temporary reference on an open handle's archive and its entry index.
 * The archive's reference count is a plain counter, so it is raised and
 * lowered only under the registry's lock, also when the lease ends.
 */
class HandleLease {
 public:
  HandleLease() = default;
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;
  /** Drops the temporary reference. */
  ~HandleLease();

  /** The archive's checked directory and bytes, used for every entry read. */
  const ArchiveIndex& index() const { return *index_; }

 private:
  friend bool LeaseArchiveHandle(const long* handle, HandleLease& lease);
  kmlengine::KmzFilePtr archive_;  // keeps the archive object alive for the call
  std::shared_ptr<const ArchiveIndex> index_;
};

/**
 * Registers @p archive with its @p index and adds the handle's own
 * reference to the archive object.
 * @return the handle value (the archive object's address).
 */
long* OpenArchiveHandle(const kmlengine::KmzFilePtr& archive, std::shared_ptr<const ArchiveIndex> index);

/**
 * Takes a temporary reference on the archive behind @p handle.
 * @return false (lease untouched) for a null handle or one that is not open.
 */
bool LeaseArchiveHandle(const long* handle, HandleLease& lease);

/**
 * Closes @p handle: removes it from the registry and drops its reference,
 * which destroys the archive object unless a lease still holds it.
 * @return false for a null handle or one that is not open.
 */
bool CloseArchiveHandle(const long* handle);

/** Number of handles currently open in this process. */
std::size_t OpenArchiveHandleCount();

/**
 * Number of archive objects destroyed by closing their handle since the
 * process started (test hook: counts the drops of a last reference).
 */
std::size_t DestroyedArchiveCount();

}  // namespace kmztile::reading::detail
