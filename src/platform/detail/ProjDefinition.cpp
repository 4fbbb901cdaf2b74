#include "platform/detail/ProjDefinition.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/CoordSys.h"
#include "platform/WideText.h"

namespace kmztile::platform::detail {

ProjDefinition::ProjDefinition() : context_(proj_context_create()) {
  // Definitions come from hosts and users; a bad one is reported by the
  // result, never by PROJ printing to the host's standard error.
  if (context_) proj_log_level(context_.get(), PJ_LOG_NONE);
}

ProjDefinition::~ProjDefinition() {
  // The PROJ objects must go before the context they were made in.
  toGeographic_.reset();
  projected_.reset();
}

ProjDefinition::PjPtr ProjDefinition::CreateCrs(const std::string& definition) {
  PjPtr object(proj_create(context_.get(), definition.c_str()));
  if (object && proj_is_crs(object.get())) return object;
  if (definition.find("+proj=") != std::string::npos && definition.find("+type=crs") == std::string::npos) {
    PjPtr retry(proj_create(context_.get(), (definition + " +type=crs").c_str()));
    if (retry && proj_is_crs(retry.get())) return retry;
  }
  return nullptr;
}

bool ProjDefinition::Set(const std::string& definition) {
  toGeographic_.reset();
  projected_.reset();
  name_.clear();
  if (!context_ || definition.empty()) return false;
  PjPtr crs = CreateCrs(definition);
  if (!crs) return false;

  PJ_CONTEXT* ctx = context_.get();
  // A "+towgs84" string gives a bound CRS and a CRS with heights a compound
  // one; the grid is that of the projected CRS inside.
  if (proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS) crs = PjPtr(proj_get_source_crs(ctx, crs.get()));
  if (crs && proj_get_type(crs.get()) == PJ_TYPE_COMPOUND_CRS) crs = PjPtr(proj_crs_get_sub_crs(ctx, crs.get(), 0));
  if (!crs) return true;  // a CRS, but without a horizontal part to project
  if (proj_get_type(crs.get()) != PJ_TYPE_PROJECTED_CRS) return true;  // geographic: no projection name

  PjPtr conversion(proj_crs_get_coordoperation(ctx, crs.get()));
  const char* method = nullptr;
  const char* authority = nullptr;
  const char* code = nullptr;
  if (conversion && proj_coordoperation_get_method_info(ctx, conversion.get(), &method, &authority, &code)) {
    const bool transverseMercator = (authority && code && std::strcmp(authority, "EPSG") == 0 &&
                                     std::strcmp(code, "9807") == 0) ||
                                    (method && std::strcmp(method, "Transverse Mercator") == 0);
    name_ = transverseMercator ? std::wstring(kGaussKrugerName) : Utf8ToWide(method ? method : "");
  }
  projected_ = std::move(crs);
  return true;
}

bool ProjDefinition::BuildTransformation() {
  PJ_CONTEXT* ctx = context_.get();
  PjPtr geographic(proj_crs_get_geodetic_crs(ctx, projected_.get()));
  if (!geographic) return false;
  PjPtr raw(proj_create_crs_to_crs_from_pj(ctx, projected_.get(), geographic.get(), nullptr, nullptr));
  if (!raw) return false;
  // EPSG axis order is northing first and latitude first; the grid converter
  // speaks easting/northing and longitude/latitude.
  toGeographic_ = PjPtr(proj_normalize_for_visualization(ctx, raw.get()));
  return toGeographic_ != nullptr;
}

int ProjDefinition::GridToGeographic(double x, double y, double& lon, double& lat) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  lon = kInf;
  lat = kInf;
  if (!projected_) return PROJ_ERR_INVALID_OP;
  if (!toGeographic_ && !BuildTransformation()) return PROJ_ERR_INVALID_OP;
  proj_errno_reset(toGeographic_.get());
  const PJ_COORD out = proj_trans(toGeographic_.get(), PJ_FWD, proj_coord(x, y, 0, 0));
  int error = proj_errno(toGeographic_.get());
  if (error == 0 && (!std::isfinite(out.xy.x) || !std::isfinite(out.xy.y))) error = PROJ_ERR_COORD_TRANSFM;
  if (error != 0) return error;
  lon = out.xy.x;
  lat = out.xy.y;
  return 0;
}

bool IsCrsDefinition(const std::string& definition) {
  ProjDefinition parsed;
  return parsed.Set(definition);
}

}  // namespace kmztile::platform::detail
