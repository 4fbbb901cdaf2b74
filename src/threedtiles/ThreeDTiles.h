#pragma once
// The 3D Tiles output of a build: COLLADA models converted once into meshes,
// placed on the WGS84 ellipsoid as a KML client places them, written per tile
// as binary glTF (.glb) and tied together by tileset.json files.
//
// The flow of one build: ConvertCollada once per model, PlaceModel once per
// model, then for each tile TileFrame (from the tile's region) and
// WriteTileGlb over the placed models of the tile with their textures
// reduced for the tile's level; finally WriteTilesets over all tiles.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kmztile::threedtiles {

// ---------------------------------------------------------------------------
// Model conversion

/** One material: a colour and, optionally, a texture named by its reference. */
struct Material {
  std::array<float, 4> color{1.0f, 1.0f, 1.0f, 1.0f};
  /** The texture key textureLookup gave for the material's diffuse image; empty for none. */
  std::string texture;
};

/** Triangles sharing one material; positions in model metres, Y up. */
struct Mesh {
  std::vector<float> positions;  // x,y,z per vertex
  std::vector<float> normals;    // unit x,y,z per vertex
  std::vector<float> texcoords;  // u,v per vertex (v downwards, as glTF wants); empty without
  std::vector<std::uint32_t> indices;
  std::size_t material = 0;
};

/** A model in its own frame: metres, glTF axes (x east, y up, z south). */
struct ConvertedModel {
  std::vector<Mesh> meshes;
  std::vector<Material> materials;
};

/**
 * Maps an image reference of the COLLADA document (its <init_from> text, as
 * the document writes it) to the key its bytes will be provided under;
 * an empty key means the texture is not available and the material keeps
 * only its colour.
 */
using TextureLookup = std::function<std::string(const std::string& reference)>;

/**
 * Converts the COLLADA document @p dae (in memory; image files are never
 * opened) into meshes in metres with Y up: <unit> and <up_axis> are applied,
 * node transforms flattened, polygons triangulated, missing normals made.
 * @return false with a reason in @p error when the bytes are empty, not XML,
 * not COLLADA or hold no triangles.
 */
bool ConvertCollada(const std::string& dae, const TextureLookup& textureLookup, ConvertedModel& model,
                    std::string& error);

// ---------------------------------------------------------------------------
// Placement

/** Where and how a KML <Model> stands: Location, Orientation and Scale. */
struct Placement {
  double longitude = 0.0;  // degrees
  double latitude = 0.0;   // degrees
  double altitude = 0.0;   // metres above the WGS84 ellipsoid
  double heading = 0.0;    // degrees, clockwise from north about up
  double tilt = 0.0;       // degrees, about east
  double roll = 0.0;       // degrees, about north
  double scaleX = 1.0, scaleY = 1.0, scaleZ = 1.0;  // along east, north, up of the model
};

/** An Earth-centred, Earth-fixed point (WGS84), metres. */
using Ecef = std::array<double, 3>;

/** @p longitude, @p latitude in degrees and @p height above the ellipsoid as ECEF. */
Ecef GeodeticToEcef(double longitude, double latitude, double height);

/** The inverse of GeodeticToEcef: {longitude, latitude (degrees), height}. */
std::array<double, 3> EcefToGeodetic(const Ecef& point);

/** A model placed on the Earth: ECEF positions (double), ECEF unit normals. */
struct PlacedModel {
  std::shared_ptr<const ConvertedModel> model;
  std::vector<std::vector<double>> positions;  // per mesh, x,y,z per vertex
  std::vector<std::vector<float>> normals;     // per mesh, x,y,z per vertex
};

/**
 * Places @p model: the model frame (east, north, up after the Z_UP/Y_UP
 * turn) is scaled, then rolled about north, tilted about east and turned by
 * the heading clockwise about up, and set in the east-north-up frame at the
 * location.
 */
PlacedModel PlaceModel(std::shared_ptr<const ConvertedModel> model, const Placement& placement);

/** A geographic box: degrees and heights above the ellipsoid. */
struct Region {
  double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
  double minHeight = 0.0, maxHeight = 0.0;
};

/** The smallest region holding every vertex of @p model. */
Region RegionOf(const PlacedModel& model);

/** @p a grown to hold @p b. */
Region Union(const Region& a, const Region& b);

/** The ECEF point a tile's content is stored relative to: the region's centre. */
Ecef TileCentre(const Region& region);

// ---------------------------------------------------------------------------
// glb

/**
 * The texture bytes of a tile, by texture key, already reduced for the
 * tile's level. A key missing here (left out at this level) leaves the
 * material with its colour only.
 */
using TileTextures = std::map<std::string, std::string>;

/** A texture as a glTF image: JPEG or PNG bytes. */
struct EmbeddedImage {
  std::string bytes;
  std::string mimeType;   // "image/jpeg" or "image/png"
  bool hasAlpha = false;  // the image has an alpha channel
};

/**
 * @p bytes as a glTF image: JPEG and PNG are kept as they are, any other
 * format the image class decodes (TIFF, BMP, GIF, ...) is re-encoded as PNG.
 * @return false when the bytes are no decodable image.
 */
bool EmbedImage(const std::string& bytes, EmbeddedImage& image);

/**
 * Writes one binary glTF holding @p models, positions relative to @p centre
 * (the tile's transform translates them back), with the textures embedded as
 * JPEG or PNG (other formats transcoded to PNG). The same input gives the
 * same bytes. @return false with a reason in @p error when a texture given
 * cannot be decoded and is not JPEG/PNG, or the content is too large.
 */
bool WriteTileGlb(const std::vector<const PlacedModel*>& models, const TileTextures& textures,
                  const Ecef& centre, std::string& glb, std::string& error);

// ---------------------------------------------------------------------------
// tileset.json

/** One tile of the pyramid with 3D Tiles content. */
struct TileEntry {
  int level = 0;
  long row = 0, column = 0;
  /** What the content occupies (the tile's cell grown to its models' extent). */
  Region region;
  /** The glb, relative to the output folder ("15/R/C.glb"); empty for none. */
  std::string content;
  /** The ECEF point the glb's positions are relative to: the tile's transform. */
  Ecef centre{0.0, 0.0, 0.0};
};

/** A tile's glb relative to the output folder: "<level>/<row>/<column>.glb". */
std::string ContentPath(int level, long row, long column);

/** One tileset file to write: its path relative to the output folder and its JSON text. */
struct TilesetFile {
  std::string path;
  std::string json;
};

/**
 * Builds the tileset files for @p tiles: the root "tileset.json" lists one
 * child per tile of the coarsest level, each an external tileset
 * ("<level>/<row>/<column>.json") holding that tile and its descendants.
 * Bounding volumes are regions (radians) grown to hold their children;
 * geometric error falls with the level and is 0 at the finest; refinement
 * REPLACE; each tile's transform translates to its centre.
 * @return false with a reason when a tile's parent is missing or the list is empty.
 */
bool BuildTilesets(const std::vector<TileEntry>& tiles, std::vector<TilesetFile>& files, std::string& error);

/** BuildTilesets for @p tiles, the files written below @p folder. @return false with a reason. */
bool WriteTilesets(const std::string& folder, const std::vector<TileEntry>& tiles, std::string& error);

// ---------------------------------------------------------------------------
// The output folder

/**
 * The 3D Tiles output of one build, written into one folder (OUT/3dtiles):
 * models are converted and placed once, each tile's glb is written as its
 * tile is made, and the tilesets are written at the end from what was
 * written. Not thread-safe; one per process.
 */
class ThreeDTilesSink {
 public:
  /** A sink writing below @p folder (created when missing). */
  explicit ThreeDTilesSink(std::string folder);

  /**
   * Converts the COLLADA document @p dae and places it by @p placement,
   * keeping the result under @p id for the tiles that hold the model.
   * @return false with a reason naming @p id when the model cannot be converted.
   */
  bool AddModel(const std::string& id, const std::string& dae, const TextureLookup& lookup,
                const Placement& placement, std::string& error);

  /** True when model @p id was added and not released since. */
  bool HasModel(const std::string& id) const { return models_.count(id) != 0; }

  /** Drops model @p id once every tile holding it is written (keeps memory to the tiles at hand). */
  void ReleaseModel(const std::string& id);

  /** Drops every model added (the tiles written stay recorded). */
  void ReleaseModels();

  /**
   * The glb of tile @p level/@p row/@p column holding the models @p ids
   * (added before) with @p textures, and its entry: its region is @p cell
   * (degrees; heights ignored) grown to hold its models. Nothing is written
   * or recorded; the caller writes @p glb to folder/entry.content.
   * @return false with a reason naming the tile.
   */
  bool MakeTile(int level, long row, long column, const Region& cell, const std::vector<std::string>& ids,
                const TileTextures& textures, TileEntry& entry, std::string& glb, std::string& error) const;

  /**
   * MakeTile, then writes the glb to "<level>/<row>/<column>.glb" below the
   * folder and records the tile. @return false with a reason naming the tile.
   */
  bool WriteTile(int level, long row, long column, const Region& cell, const std::vector<std::string>& ids,
                 const TileTextures& textures, std::string& error);

  /** Writes tileset.json and the external tilesets for every tile written (WriteTilesets). */
  bool Finish(std::string& error);

  /**
   * The tiles written so far. A build whose tiles are written by several
   * processes collects these (doubles kept exactly, e.g. printed with
   * %.17g) and calls WriteTilesets once over all of them.
   */
  const std::vector<TileEntry>& Tiles() const { return tiles_; }

 private:
  std::string folder_;
  std::map<std::string, PlacedModel> models_;
  std::map<std::string, Region> regions_;
  std::vector<TileEntry> tiles_;
};

}  // namespace kmztile::threedtiles
