#pragma once
// The library's version, as the project declares it.

namespace kmztile::platform {

/** "MAJOR.MINOR.PATCH". */
const char* Version();

}  // namespace kmztile::platform
