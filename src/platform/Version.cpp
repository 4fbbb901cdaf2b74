#include "platform/Version.h"

namespace kmztile::platform {

const char* Version() { return KMZTILE_VERSION; }

}  // namespace kmztile::platform
