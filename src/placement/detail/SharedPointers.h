#pragma once
// The two process-wide component pointers behind ConvertGSToLB, shared by
// every parser object (released by ReleaseSharedComponents).
#include "platform/CoordSys.h"

namespace kmztile::placement::detail {

/** The shared coordinate-system object; null until the first conversion. */
ICoordSysDefPtr& SharedCoordSys();
/** The shared grid converter; null until the first Gauss-Kruger conversion. */
IGridConverterPtr& SharedConverter();

}  // namespace kmztile::placement::detail
