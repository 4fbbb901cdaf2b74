#include "RealModels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "Files.h"

namespace samplegen {

namespace {

/** One real model: where it lives, its textures and how its references move to N/. */
struct RealModel {
  const char* name;          ///< model name N in the city
  const char* dae;           ///< COLLADA file below the real-data folder
  const char* textureFolder; ///< folder whose image files are its textures
  const char* oldPrefix;     ///< texture reference prefix in the original document
  double east, north;        ///< metres from the centre
  bool grid;                 ///< located by grid coordinates
};

const RealModel kModels[] = {
    {"duck", "duck/duck_triangles.dae", "duck", "./", 40, -60, false},
    {"macky", "cu_macky/files/CU Macky.dae", "cu_macky/files", "../files/", -70, 45, true},
    {"alphatiff", "alpha_tiff/alpha_transp_from_maya.dae", "alpha_tiff", "./", 95, 80, false},
};

bool IsImage(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".jpg" || ext == ".png" || ext == ".tif" || ext == ".tiff";
}

/** Replaces "<init_from>PREFIX" by "<init_from>N/" everywhere in the document. */
std::string MoveReferences(std::string text, const std::string& oldPrefix, const std::string& name) {
  const std::string from = "<init_from>" + oldPrefix;
  const std::string to = "<init_from>" + name + "/";
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

}  // namespace

void AddRealModels(const std::string& realData, const std::string& out, double centreLon, double centreLat,
                   const GridProjection& grid, CityReport& report) {
  const double metresPerLat = 111320.0;
  const double metresPerLon = metresPerLat * std::cos(centreLat * M_PI / 180.0);
  for (const RealModel& model : kModels) {
    const std::string name = model.name;
    const std::string dae = MoveReferences(ReadFileBytes(realData + "/" + model.dae), model.oldPrefix, name);
    WriteFileBytes(out + "/" + name + ".dae", dae);
    report.bytes += dae.size();

    MakeFolders(out + "/" + name);
    std::vector<std::string> textures;
    for (const auto& entry : std::filesystem::directory_iterator(realData + "/" + model.textureFolder))
      if (entry.is_regular_file() && IsImage(entry.path().filename().string()))
        textures.push_back(entry.path().filename().string());
    std::sort(textures.begin(), textures.end());
    for (const std::string& texture : textures) {
      const std::string bytes = ReadFileBytes(realData + "/" + model.textureFolder + "/" + texture);
      WriteFileBytes(out + "/" + name + "/" + texture, bytes);
      report.bytes += bytes.size();
      ++report.textures;
    }

    const double lon = centreLon + model.east / metresPerLon;
    const double lat = centreLat + model.north / metresPerLat;
    const bool useGrid = model.grid;
    const std::string text = LocationText(grid, lon, lat, useGrid);
    if (useGrid) ++report.gridLocated;
    WriteFileBytes(out + "/" + name + ".txt", text);
    report.bytes += text.size();
    ++report.models;
  }
}

}  // namespace samplegen
