# Third-party libraries, all from Debian packages (scripts/bootstrap.sh installs them).
find_package(PkgConfig REQUIRED)
find_package(Boost REQUIRED)
find_package(LibKML CONFIG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(EXPAT REQUIRED)
find_package(PROJ CONFIG REQUIRED)
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(nlohmann_json REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# The HTTP server of `kmztile view` (the command only, not the library).
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
# libtiffxx (in-memory TIFF streams) and stb_image (GIF and BMP, which a
# texture of unstated format may hold) have no CMake configs.
find_library(TIFFXX_LIBRARY NAMES tiffxx REQUIRED)
find_library(STB_LIBRARY NAMES stb REQUIRED)
# assimp reads COLLADA for the glTF output. Its CMake config names a draco
# target Debian ships no config for, so the library is found directly.
find_library(ASSIMP_LIBRARY NAMES assimp REQUIRED)
find_path(ASSIMP_INCLUDE_DIR assimp/Importer.hpp REQUIRED)

# libkml's config exports no include directories; its headers live in the
# default /usr/include and need Boost's headers. Link order matters.
add_library(kmztile_deps INTERFACE)
target_link_libraries(kmztile_deps INTERFACE
  kmlengine kmldom kmlbase Boost::headers
  PkgConfig::MINIZIP ZLIB::ZLIB EXPAT::EXPAT PROJ::proj PNG::PNG TIFF::TIFF
  PkgConfig::TURBOJPEG PkgConfig::LIBDEFLATE ${TIFFXX_LIBRARY} ${STB_LIBRARY} nlohmann_json::nlohmann_json
  ${ASSIMP_LIBRARY})
