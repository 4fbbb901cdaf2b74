// Reading a whole tile KMZ into memory: entry names, entry contents and the
// positions of the models its KML places.
#include "BaseParser.h"
#include "platform/LastError.h"
#include "reading/KmzSource.h"
#include "reading/PlacemarkWalk.h"

using kmztile::reading::OpenedKmz;

bool CBaseParser::ReadKmzToList(std::string source, std::vector<std::string>& names,
                                std::vector<std::string>& contents, std::map<std::string, LonLatID>& locations) {
  return kmztile::platform::GuardedCall([&] {
    OpenedKmz archive;
    if (!kmztile::reading::OpenKmzSource(std::move(source), archive)) return false;

    // The checked directory's names, which libkml was seen to list alike.
    names = archive.index->Names();

    contents.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      if (!kmztile::reading::ReadEntryTolerant(*archive.index, names[i], contents[i])) return false;
    }

    std::string kml;
    if (!archive.index->ReadDefaultKml(kml)) return true;
    kmztile::reading::WalkModelPlacemarks(kml, locations);
    return true;
  });
}
