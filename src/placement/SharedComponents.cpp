// The shared coordinate-system and converter pointers. They are plain
// namespace-scope objects (constant-initialised empty), so a parser that
// outlives them at process exit still finds them released and harmless.
#include "parser/SharedComponents.h"
#include "placement/detail/SharedPointers.h"

namespace {
ICoordSysDefPtr g_coordSys;
IGridConverterPtr g_converter;
}  // namespace

namespace kmztile::placement::detail {

ICoordSysDefPtr& SharedCoordSys() { return g_coordSys; }
IGridConverterPtr& SharedConverter() { return g_converter; }

}  // namespace kmztile::placement::detail

namespace kmztile::detail {

void ReleaseSharedComponents() {
  g_converter.Release();
  g_coordSys.Release();
}

}  // namespace kmztile::detail
