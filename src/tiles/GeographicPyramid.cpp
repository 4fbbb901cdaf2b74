// The ready geographic quad-tree pyramid: extent -180..180 by -90..90 and
// square tiles of 360 / 2^level degrees, rows southwards from latitude 90,
// columns eastwards from longitude -180.
#include <cmath>

#include "kmztile/Pyramid.h"
#include "platform/ComObject.h"

namespace {

class GeographicPyramid final : public kmztile::platform::ComObject<IPyramid, IID_IPyramid> {
 public:
  HRESULT GetTileBounds(long level, long row, long column, double* west, double* south, double* east, double* north,
                        VARIANT_BOOL* valid) override {
    if (!west || !south || !east || !north || !valid) return E_POINTER;
    *valid = VARIANT_FALSE;
    if (level < 0 || level > 40 || row < 0 || column < 0) return S_OK;
    const double size = 360.0 / std::ldexp(1.0, static_cast<int>(level));
    const double columns = std::ldexp(1.0, static_cast<int>(level));
    const double rows = std::ceil(180.0 / size);
    if (static_cast<double>(column) >= columns || static_cast<double>(row) >= rows) return S_OK;
    *west = -180.0 + static_cast<double>(column) * size;
    *east = *west + size;
    *north = 90.0 - static_cast<double>(row) * size;
    *south = *north - size;
    *valid = VARIANT_TRUE;
    return S_OK;
  }

  HRESULT GetPyramidExtent(double* west, double* south, double* east, double* north) override {
    if (!west || !south || !east || !north) return E_POINTER;
    *west = -180.0;
    *south = -90.0;
    *east = 180.0;
    *north = 90.0;
    return S_OK;
  }
};

}  // namespace

IPyramidPtr CreateGeographicPyramid() { return IPyramidPtr(new GeographicPyramid()); }
