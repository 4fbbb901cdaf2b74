#include "platform/KmlFiles.h"

#include <sys/stat.h>

#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace kmztile::platform {

bool KmlReadFileToString(const std::string& path, std::string* out) {
  // libkml's own reader would block on a FIFO; the platform's refuses it.
  if (!out) return false;
  out->clear();
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  out->swap(bytes);
  return true;
}

bool KmlWriteStringToFile(const std::string& data, const std::string& path) {
  // Replaced whole through a new file, never written in place: libkml's
  // own writer would truncate a file hard-linked elsewhere.
  return WriteFileAtomically(path, data);
}

kmlengine::KmzFilePtr KmzCreate(const std::string& path) {
  if (InjectedFault(FileOp::Open)) return nullptr;
  // libkml would open an existing file (or a link) for writing and truncate
  // it; archives are only ever created under a new name.
  struct stat st {};
  if (::lstat(NativePath(path).c_str(), &st) == 0) return nullptr;
  return kmlengine::KmzFilePtr(kmlengine::KmzFile::Create(NativePath(path).c_str()));
}

}  // namespace kmztile::platform
