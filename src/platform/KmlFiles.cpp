#include "platform/KmlFiles.h"

#include "platform/FaultInjection.h"
#include "platform/Paths.h"

namespace kmztile::platform {

bool KmlReadFileToString(const std::string& path, std::string* out) {
  if (InjectedFault(FileOp::Open)) return false;
  return kmlbase::File::ReadFileToString(NativePath(path), out);
}

bool KmlWriteStringToFile(const std::string& data, const std::string& path) {
  if (InjectedFault(FileOp::Open) || InjectedFault(FileOp::Write)) return false;
  return kmlbase::File::WriteStringToFile(data, NativePath(path));
}

kmlengine::KmzFilePtr KmzCreate(const std::string& path) {
  if (InjectedFault(FileOp::Open)) return nullptr;
  return kmlengine::KmzFilePtr(kmlengine::KmzFile::Create(NativePath(path).c_str()));
}

}  // namespace kmztile::platform
