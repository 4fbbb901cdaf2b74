// Reading single entries of an archive left open by ReadKmzToListEx, and
// closing its handle. Every read takes a temporary reference on the archive
// for its duration and reads through the archive's checked index.
#include "BaseParser.h"
#include "platform/LastError.h"
#include "reading/KmzSource.h"
#include "reading/detail/ArchiveHandles.h"

namespace handles = kmztile::reading::detail;

bool CBaseParser::ReadOneKmzData(long* handle, std::string& name, std::string& data, bool release) {
  return kmztile::platform::GuardedCall([&] {
    if (release) return handles::CloseArchiveHandle(handle);
    handles::HandleLease lease;
    if (!handles::LeaseArchiveHandle(handle, lease)) return false;
    // Directory-tolerant: only a directory name may fail without failing the
    // call, so a host can tell a missing or damaged model from a read one.
    return kmztile::reading::ReadEntryTolerant(lease.index(), name, data);
  });
}

bool CBaseParser::ReadTextureToList(long* handle, std::vector<std::string> names, std::vector<std::string>& contents) {
  return kmztile::platform::GuardedCall([&] {
    handles::HandleLease lease;
    if (!handles::LeaseArchiveHandle(handle, lease)) return false;
    contents.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!kmztile::reading::ReadEntryTolerant(lease.index(), names[i], contents[i])) return false;
    }
    return true;
  });
}
