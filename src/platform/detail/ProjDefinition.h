#pragma once
// One coordinate-system definition parsed by PROJ, with the PROJ objects that
// convert its grid coordinates to longitude/latitude. The objects are built
// once per definition (the transformation on first use) and reused for
// every point until the definition changes.
#include <memory>
#include <string>

#include <proj.h>

namespace kmztile::platform::detail {

/** A parsed definition and its cached grid-to-geographic transformation. */
class ProjDefinition {
 public:
  /** Creates the PROJ context (quiet: failures are reported by results, not printed); no definition yet. */
  ProjDefinition();
  /** Destroys the PROJ objects, then their context. */
  ~ProjDefinition();
  ProjDefinition(const ProjDefinition&) = delete;
  ProjDefinition& operator=(const ProjDefinition&) = delete;

  /**
   * Parses @p definition (UTF-8: "EPSG:nnnn", WKT or a PROJ string; a PROJ
   * string without "+type=crs" is read as a CRS too) and drops the objects of
   * the previous one. @return false when PROJ cannot read it as a CRS.
   */
  bool Set(const std::string& definition);

  /** The projection name (see ICoordSysProj::GetProjectionName); empty when not projected. */
  const std::wstring& ProjectionName() const { return name_; }

  /** True when the definition is a projected CRS. */
  bool IsProjected() const { return projected_ != nullptr; }

  /**
   * Converts easting @p x and northing @p y to degrees. @return 0, or a
   * non-zero PROJ error number with both outputs set to infinity.
   */
  int GridToGeographic(double x, double y, double& lon, double& lat);

 private:
  struct PjDeleter {
    void operator()(PJ* p) const { proj_destroy(p); }
  };
  struct ContextDeleter {
    void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
  };
  using PjPtr = std::unique_ptr<PJ, PjDeleter>;

  PjPtr CreateCrs(const std::string& definition);
  bool BuildTransformation();

  std::unique_ptr<PJ_CONTEXT, ContextDeleter> context_;
  PjPtr projected_;       // the projected CRS of the definition, or null
  PjPtr toGeographic_;    // projected -> geographic base, axis order E/N -> lon/lat
  std::wstring name_;
};

/**
 * True when @p definition reads as a coordinate reference system exactly as
 * the grid conversion reads it (ProjDefinition::Set): "EPSG:nnnn", WKT, or a
 * PROJ string with or without "+type=crs".
 */
bool IsCrsDefinition(const std::string& definition);

}  // namespace kmztile::platform::detail
