// Listing a tile KMZ's models with their textures and positions, keeping the
// archive open behind a handle for single-entry reads.
#include "BaseParser.h"
#include "platform/LastError.h"
#include "reading/KmzSource.h"
#include "reading/PlacemarkWalk.h"
#include "reading/detail/ArchiveHandles.h"
#include "reading/detail/TextureGrouping.h"

bool CBaseParser::ReadKmzToListEx(std::string source, std::map<std::string, std::vector<std::string>>& textures,
                                  std::map<std::string, LonLatID>& locations, long*& handle) {
  return kmztile::platform::GuardedCall([&] {
    kmztile::reading::OpenedKmz archive;
    if (!kmztile::reading::OpenKmzSource(std::move(source), archive)) return false;

    kmztile::reading::detail::GroupTexturesByModel(archive.index->Names(), textures);

    std::string kml;
    if (archive.index->ReadDefaultKml(kml)) kmztile::reading::WalkModelPlacemarks(kml, locations);

    handle = kmztile::reading::detail::OpenArchiveHandle(archive.kmz, std::move(archive.index));
    return true;
  });
}
