#include "parser/SharedComponents.h"

namespace kmztile::detail {

void ReleaseSharedComponents() {}

}  // namespace kmztile::detail
