#pragma once
// Builds a source folder of loose models for the packaging tests from the
// real COLLADA samples: F/N.dae, F/N.txt, F/N/ textures and F/doc.kml.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "kml/dom.h"

namespace placementtest {

/** A template KML: a Folder holding one pattern placemark per name. */
inline std::string TemplateKml(const std::vector<std::string>& names, bool orientationAndScale = true) {
  std::string k = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                  "<Folder><name>template</name>\n";
  for (const std::string& n : names) {
    k += "<Placemark id=\"" + n + "\"><name>" + n + "</name><description>pattern " + n +
         "</description><Model><altitudeMode>relativeToGround</altitudeMode>"
         "<Location><longitude>1</longitude><latitude>2</latitude><altitude>12.5</altitude></Location>";
    if (orientationAndScale)
      k += "<Orientation><heading>45</heading><tilt>5</tilt><roll>6</roll></Orientation>"
           "<Scale><x>2</x><y>3</y><z>4</z></Scale>";
    k += "<Link><href>models/pattern.dae</href></Link></Model></Placemark>\n";
  }
  return k + "</Folder>\n</kml>\n";
}

/** Real sample files: a COLLADA model and its textures, relative to the real-data folder. */
struct RealModel {
  std::string dae;
  std::vector<std::string> textures;
};
inline RealModel Duck() { return {"collada/duck/duck_triangles.dae", {"collada/duck/duckCM.png"}}; }
/** The SketchUp model with three of its textures. */
inline RealModel TexturedMacky() {
  return {"collada/cu_macky/files/CU Macky.dae",
          {"collada/cu_macky/files/CU-Macky-BrickwallnoCulling.jpg", "collada/cu_macky/files/CU-Macky-EastnoCulling.jpg",
           "collada/cu_macky/files/roofnoCulling.jpg"}};
}
inline RealModel Macky() {
  return {"collada/cu_macky/files/CU Macky.dae", {"collada/cu_macky/files/CU-Macky---Center-StairsnoCulling.jpg"}};
}

inline std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

/**
 * Lays out model @p name in folder @p F: F/<name><ext> from the real model,
 * F/<name>.txt with @p location (skipped when empty) and the textures in
 * F/<name>/ (skipped when @p withTextures is false).
 */
inline void AddModel(const std::string& F, const std::string& name, const RealModel& model,
                     const std::string& location, bool withTextures = true, const std::string& ext = ".dae") {
  kmztest::WriteFile(F + "/" + name + ext, kmztest::ReadFile(kmztest::RealData(model.dae)));
  if (!location.empty()) kmztest::WriteFile(F + "/" + name + ".txt", location);
  if (withTextures) {
    for (const std::string& t : model.textures)
      kmztest::WriteFile(F + "/" + name + "/" + BaseName(t), kmztest::ReadFile(kmztest::RealData(t)));
  }
}

/** The parsed root Folder of a KML text, or null. */
inline kmldom::FolderPtr RootFolder(const std::string& kml) {
  const kmldom::KmlPtr root = kmldom::AsKml(kmldom::Parse(kml, nullptr));
  return root ? kmldom::AsFolder(root->get_feature()) : nullptr;
}

/** The Model of the last child of a Folder. */
inline kmldom::ModelPtr LastModel(const kmldom::FolderPtr& folder) {
  const size_t n = folder->get_feature_array_size();
  const kmldom::PlacemarkPtr p = kmldom::AsPlacemark(folder->get_feature_array_at(n - 1));
  return p ? kmldom::AsModel(p->get_geometry()) : nullptr;
}

}  // namespace placementtest
