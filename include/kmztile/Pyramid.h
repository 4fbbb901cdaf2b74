#pragma once
/**
 * @file Pyramid.h
 * The host's tile pyramid interface and a ready geographic quad-tree pyramid.
 */
#include "kmztile/Com.h"

/**
 * The host's tile pyramid. A host derives from it and overrides the three
 * IUnknown methods, GetTileBounds and GetPyramidExtent. The other slots keep
 * the positions of the full interface's virtual table and return E_NOTIMPL.
 */
struct IPyramid : public IUnknown {
  /** Unused slot (entry 4). */
  virtual HRESULT Reserved4() { return E_NOTIMPL; }
  /** Unused slot (entry 5). */
  virtual HRESULT Reserved5() { return E_NOTIMPL; }
  /** Unused slot (entry 6). */
  virtual HRESULT Reserved6() { return E_NOTIMPL; }
  /** Unused slot (entry 7). */
  virtual HRESULT Reserved7() { return E_NOTIMPL; }
  /** Unused slot (entry 8). */
  virtual HRESULT Reserved8() { return E_NOTIMPL; }
  /**
   * Bounds of one tile (entry 9), in degrees.
   * @param valid receives non-zero when the tile exists.
   */
  virtual HRESULT GetTileBounds(long level, long row, long column, double* west, double* south, double* east,
                                double* north, VARIANT_BOOL* valid) = 0;
  /** Unused slots (entries 10 to 26). */
  virtual HRESULT Reserved10() { return E_NOTIMPL; }
  virtual HRESULT Reserved11() { return E_NOTIMPL; }
  virtual HRESULT Reserved12() { return E_NOTIMPL; }
  virtual HRESULT Reserved13() { return E_NOTIMPL; }
  virtual HRESULT Reserved14() { return E_NOTIMPL; }
  virtual HRESULT Reserved15() { return E_NOTIMPL; }
  virtual HRESULT Reserved16() { return E_NOTIMPL; }
  virtual HRESULT Reserved17() { return E_NOTIMPL; }
  virtual HRESULT Reserved18() { return E_NOTIMPL; }
  virtual HRESULT Reserved19() { return E_NOTIMPL; }
  virtual HRESULT Reserved20() { return E_NOTIMPL; }
  virtual HRESULT Reserved21() { return E_NOTIMPL; }
  virtual HRESULT Reserved22() { return E_NOTIMPL; }
  virtual HRESULT Reserved23() { return E_NOTIMPL; }
  virtual HRESULT Reserved24() { return E_NOTIMPL; }
  virtual HRESULT Reserved25() { return E_NOTIMPL; }
  virtual HRESULT Reserved26() { return E_NOTIMPL; }
  /**
   * Extent of the whole pyramid (entry 27), in the same order as the tile
   * bounds: west, south, east, north. Only east minus west is used.
   */
  virtual HRESULT GetPyramidExtent(double* west, double* south, double* east, double* north) = 0;

 protected:
  ~IPyramid() = default;
};

/** Identifier of IPyramid. */
inline constexpr GUID IID_IPyramid = {0x6b1f2a61, 0x3c0d, 0x4e8a, {0x9b, 0x52, 0x1d, 0x7e, 0x40, 0x11, 0xa3, 0x5c}};

/** Smart pointer over IPyramid (constructing it from a raw pointer adds a reference). */
typedef _com_ptr_t<IPyramid> IPyramidPtr;

/**
 * Creates the geographic quad-tree pyramid: extent -180..180 by -90..90,
 * square tiles of 360 / 2^level degrees, rows counted southwards from
 * latitude 90, columns eastwards from longitude -180. A tile outside the
 * extent (or a negative level) reports valid = VARIANT_FALSE.
 * @return a pointer holding the only reference.
 */
KMZTILE_API IPyramidPtr CreateGeographicPyramid();
