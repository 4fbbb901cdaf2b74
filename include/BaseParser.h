#pragma once
/**
 * @file BaseParser.h
 * The kmztile library's one class, CBaseParser, and the LonLatID record.
 *
 * A host creates a parser, gives it its working folder, scope file and
 * coordinates file with SetRequireFile, then packages loose models
 * (GenNeededFile), imports packages (EarlyPrepare), builds the tiles of its
 * pyramid (CreateTile) and reads tile KMZs back (ReadKmzToList and the
 * handle-based readers). Paths are narrow UTF-8 strings; the library joins
 * them with backslashes, which reach the disk as "/" on POSIX systems.
 *
 * Operations report failure through their bool result and never print,
 * except Test. Parser operations change process-wide state (the global
 * locale, two shared conversion components), so a host drives every parser
 * object from one thread at a time.
 */
#include <map>
#include <string>
#include <vector>

#include "kmztile/Com.h"
#include "kmztile/Export.h"
#include "kmztile/Pyramid.h"

/** A model's position in a tile and its numeric identifier. */
struct LonLatID {
  /** Longitude in degrees, as stored in the model's KML Location. */
  double Lon = 0.0;
  /** Latitude in degrees, as stored in the model's KML Location. */
  double Lat = 0.0;
  /**
   * The numeric value of the model placemark's id attribute, truncated
   * toward zero; ids beyond the 32-bit range saturate, non-numbers give 0.
   */
  long ID = 0;
};

class CBaseParserTestAccess;

/**
 * Turns textured 3D model packages into tiles of a geographic quad-tree
 * pyramid and reads those tiles back.
 */
class KMZTILE_API CBaseParser {
 public:
  /** Sets the defaults (max level 18, four level folders, reduction base 2, paths "folder", "range", "coords") and releases the shared conversion components. */
  CBaseParser();
  /** Copies every field; both objects then share the caller-owned coordinate-system and auxiliary texts. */
  CBaseParser(const CBaseParser& other);
  /** Copies every field, like the copy constructor. @return this object. */
  CBaseParser& operator=(const CBaseParser& other);
  /** Releases the shared conversion components. */
  ~CBaseParser();

  // --- configuration and conversions -----------------------------------

  /**
   * Sets the working folder (a backslash is appended when it lacks one; an
   * empty folder becomes a single backslash), the scope file path and the
   * coordinates file path. Touches nothing on disk.
   */
  void SetRequireFile(std::string workFolder, std::string scopeFile, std::string coordsFile);
  /** Prints "Test OK !" and two line ends to standard output. */
  void Test();
  /** Narrow (UTF-8) to wide under the runtime locale; leaves the runtime locale at "C". */
  std::wstring s2ws(const std::string& s);
  /** Wide to narrow (UTF-8) under the runtime locale; restores the locale in force before. */
  std::string ws2s(const std::wstring& s);
  /**
   * Converts UTF-8 text to a new NUL-terminated wide array (not a COM BSTR).
   * @return an array the caller frees with delete[].
   */
  wchar_t* StringToBSTR(std::string s);
  /** Converts a NUL-terminated wide string to UTF-8; NULL gives "". */
  std::string BSTRToString(const wchar_t* s);

  // --- housekeeping and import -----------------------------------------

  /**
   * Deletes the ".kml", ".dae" and ".kmz" files of the level folders and
   * removes the emptied folders. Acts only when @p folder is exactly the
   * working folder. @return false for another folder or a missing level folder.
   */
  bool DeleteFileAndDirectory(std::string folder);
  /**
   * Creates the level folders and, when they are new, copies every
   * package's KML and COLLADA model into each. @return true when the working
   * folder is ready (imported now or earlier); false for an empty working
   * folder, no package, or a package that failed.
   */
  bool EarlyPrepare(std::string unused);
  /**
   * Reads the scope file into west, east, south, north.
   * @return false (outputs untouched) when the file cannot be opened.
   */
  bool GetScopeRange(double& west, double& east, double& south, double& north);
  /**
   * Reads the coordinates file and stores the extent of all models as
   * smallest latitude, smallest longitude, largest latitude, largest longitude.
   * @return false (outputs untouched) when the file cannot be opened.
   */
  bool GetAllModelRange(std::string unused, double* minLat, double* minLon, double* maxLat, double* maxLon);

  // --- tile building ---------------------------------------------------

  /**
   * The inclusive rows and columns of @p level covering an extent.
   * @throws _com_error (E_POINTER) for a null pyramid, before any output is written.
   */
  void TileIndex(double west, double east, double south, double north, long level, IPyramidPtr pyramid,
                 long* firstRow, long* firstColumn, long* lastRow, long* lastColumn);
  /**
   * Builds one tile: selects its models, writes the tile KML and KMZ into the
   * level folder and stores the KMZ bytes in @p kmz (empty for a tile without
   * models). @return false when any step fails (kmz untouched).
   */
  bool CreateTile(IPyramidPtr pyramid, long level, long row, long column, std::string* kmz);
  /** Number of models the most recent CreateTile selected. */
  int GetLastTileModelCount() const { return m_lastTileModelCount; }

  // --- tile reading (static: no object state) ----------------------------

  /**
   * Reads a KMZ, given by path or as bytes, into its entry names, entry
   * contents and the positions of the models placed in its KML.
   * The containers are not cleared first. @return false when the archive
   * does not open, is malformed, or a non-directory entry cannot be read.
   */
  static bool ReadKmzToList(std::string source, std::vector<std::string>& names,
                            std::vector<std::string>& contents, std::map<std::string, LonLatID>& locations);
  /**
   * Lists a KMZ's models with their textures and positions and keeps the
   * archive open behind @p handle (one reference) for ReadOneKmzData and
   * ReadTextureToList. @return false (handle untouched) when it does not open.
   */
  static bool ReadKmzToListEx(std::string source, std::map<std::string, std::vector<std::string>>& textures,
                              std::map<std::string, LonLatID>& locations, long*& handle);
  /**
   * Reads entry @p name through @p handle into @p data, or with @p release
   * closes the handle. @return false when a named entry cannot be read.
   */
  static bool ReadOneKmzData(long* handle, std::string& name, std::string& data, bool release);
  /** Reads @p names through @p handle into @p contents, in parallel. @return false on a failed read. */
  static bool ReadTextureToList(long* handle, std::vector<std::string> names, std::vector<std::string>& contents);

  // --- placement ---------------------------------------------------------

  /**
   * Converts a grid easting/northing to longitude/latitude through the
   * coordinate-system component when its projection is Gauss-Kruger;
   * otherwise hands x and y back unchanged.
   * @throws _com_error when a component cannot be created or queried.
   */
  void ConvertGSToLB(double x, double y, double& lon, double& lat);
  /**
   * Moves the model of the KMZ package at @p path to a new position. The
   * new archive replaces the original only once it is complete.
   * @return false (file untouched) on any failure or an out-of-range position.
   */
  static bool UpdateLocationInKml(std::string path, double longitude, double latitude);
  /**
   * Rewrites the template KML for one model placed at (lon, lat) and packs
   * folder\middle\name.kmz. @return true when the archive was written completely.
   */
  bool changeKmlFile(std::string& folder, std::string& templatePath, std::string& modelName,
                     std::string& modelFile, double longitude, double latitude);
  /**
   * Packages every model of a source folder into folder\middle, with the
   * coordinates and scope files. The two wide texts are stored, not copied.
   * @return true when at least one model file was found.
   * @throws _com_error from ConvertGSToLB.
   */
  bool GenNeededFile(std::string folder, wchar_t* coordSysText, wchar_t* auxText, std::string& resultFolder);

 private:
  friend class CBaseParserTestAccess;
  friend class CBaseParserCoreAccess;

  int Create4Folder();
  bool CheckFolderExist(const std::string& path);
  bool DeleteFiles(std::string folder);
  bool DeleteDirectorys(std::string folder);
  bool CopyFileW(std::string source, std::string destination);
  bool ParseKmz();
  bool GetKmlFromKmz(std::string packagePath);
  bool GetDaeFromKmz(std::string packagePath);
  bool CreateLocationTxt(int level, std::string stem);
  bool SelectKml(std::string coordinatesPath, IPyramidPtr pyramid, long level, long row, long column,
                 std::vector<std::string>* selected);
  // The tile document written by CombineKml is also handed back through
  // @p written; CreateNewKmz takes it from @p document instead of reading the
  // file again, and hands the archive it wrote back through @p archive.
  bool CombineKml(long level, std::vector<std::string> models, std::string tileName, std::string* written = nullptr);
  bool CreateNewKmz(long level, std::vector<std::string> models, std::string tileName,
                    const std::string* document = nullptr, std::string* archive = nullptr);
  bool GetLastKmz(long level, std::string tileName, std::string* kmz);

  int m_maxLevel;
  int m_levelFolderCount;
  int m_textureBase;
  int m_lastTileModelCount;
  std::string m_workFolder;
  std::string m_scopeFile;
  std::string m_coordsFile;
  const wchar_t* m_coordSysText;
  const wchar_t* m_auxText;
};
