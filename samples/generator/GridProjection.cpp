#include "GridProjection.h"

#include <cstdio>

#include <proj.h>

#include <cmath>
#include <stdexcept>
#include <string>

namespace samplegen {

namespace {
struct ContextFree {
  void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
};
struct PjFree {
  void operator()(PJ* p) const { proj_destroy(p); }
};
using PjPtr = std::unique_ptr<PJ, PjFree>;
}  // namespace

struct GridProjection::State {
  std::unique_ptr<PJ_CONTEXT, ContextFree> ctx;
  PjPtr op;
};

GridProjection::GridProjection(const char* crs) : state_(std::make_unique<State>()) {
  state_->ctx.reset(proj_context_create());
  PJ_CONTEXT* ctx = state_->ctx.get();
  PjPtr grid(proj_create(ctx, crs));
  if (!grid) throw std::runtime_error(std::string("PROJ does not know the grid ") + crs);
  PjPtr geographic(proj_crs_get_geodetic_crs(ctx, grid.get()));
  if (!geographic) throw std::runtime_error(std::string("no geographic base for ") + crs);
  PjPtr op(proj_create_crs_to_crs_from_pj(ctx, geographic.get(), grid.get(), nullptr, nullptr));
  if (!op) throw std::runtime_error(std::string("no operation to ") + crs);
  // EPSG orders latitude first and northing first; work in lon/lat and easting/northing.
  state_->op.reset(proj_normalize_for_visualization(ctx, op.get()));
  if (!state_->op) throw std::runtime_error(std::string("cannot normalise the operation to ") + crs);
}

GridProjection::~GridProjection() = default;

void GridProjection::Forward(double lon, double lat, double& easting, double& northing) const {
  const PJ_COORD out = proj_trans(state_->op.get(), PJ_FWD, proj_coord(lon, lat, 0, 0));
  if (!std::isfinite(out.xy.x) || !std::isfinite(out.xy.y))
    throw std::runtime_error("PROJ cannot project " + std::to_string(lon) + ", " + std::to_string(lat));
  easting = out.xy.x;
  northing = out.xy.y;
}

std::string LocationText(const GridProjection& grid, double lon, double lat, bool useGrid) {
  char text[128];
  if (useGrid) {
    double easting = 0, northing = 0;
    grid.Forward(lon, lat, easting, northing);
    std::snprintf(text, sizeof text, "%.3f\r\n%.3f\r\n", easting, northing);
  } else {
    std::snprintf(text, sizeof text, "%.8f\r\n%.8f\r\n", lon, lat);
  }
  return text;
}

}  // namespace samplegen
