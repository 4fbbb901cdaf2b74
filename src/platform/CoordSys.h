#pragma once
// The coordinate-system component: a coordinate-system object (definition
// text and the name of its projection) and a grid converter that turns a
// projected easting/northing into longitude/latitude. Both are in-process
// COM classes over PROJ, created through CoCreateInstance. The virtual
// tables keep the entry positions of the component's published interfaces;
// slots without an operation here return E_NOTIMPL.
#include <cstdint>

#include "kmztile/Com.h"

namespace kmztile::platform {

/**
 * The projection name reported for a projected coordinate system whose
 * conversion is Transverse Mercator (Gauss-Kruger): "Gauss-Kruger (" then
 * U+9AD8 U+65AF U+FF0D U+514B U+91CC U+683C U+6295 U+5F71 and ")".
 */
inline constexpr wchar_t kGaussKrugerName[] =
    L"Gauss-Kruger (\u9AD8\u65AF\uFF0D\u514B\u91CC\u683C\u6295\u5F71)";

}  // namespace kmztile::platform

/** The definition side of the coordinate-system object. */
struct ICoordSysDef : public IUnknown {
  /**
   * Applies a definition (entry 4): an "EPSG:nnnn" code, WKT or a PROJ
   * string. @return S_OK, or E_INVALIDARG when PROJ cannot parse it (the
   * text is kept and the object then has no projection).
   */
  virtual HRESULT SetDefinition(BSTR definition) = 0;
  /**
   * The definition last applied (entry 5), empty before the first.
   * @return S_OK, or E_POINTER for a null @p definition; the caller frees the string.
   */
  virtual HRESULT GetDefinition(BSTR* definition) = 0;

 protected:
  ~ICoordSysDef() = default;
};

/** The projection side of the same coordinate-system object. */
struct ICoordSysProj : public IUnknown {
  /** Unused slots (entries 4 to 17). */
  virtual HRESULT Reserved4() { return E_NOTIMPL; }
  virtual HRESULT Reserved5() { return E_NOTIMPL; }
  virtual HRESULT Reserved6() { return E_NOTIMPL; }
  virtual HRESULT Reserved7() { return E_NOTIMPL; }
  virtual HRESULT Reserved8() { return E_NOTIMPL; }
  virtual HRESULT Reserved9() { return E_NOTIMPL; }
  virtual HRESULT Reserved10() { return E_NOTIMPL; }
  virtual HRESULT Reserved11() { return E_NOTIMPL; }
  virtual HRESULT Reserved12() { return E_NOTIMPL; }
  virtual HRESULT Reserved13() { return E_NOTIMPL; }
  virtual HRESULT Reserved14() { return E_NOTIMPL; }
  virtual HRESULT Reserved15() { return E_NOTIMPL; }
  virtual HRESULT Reserved16() { return E_NOTIMPL; }
  virtual HRESULT Reserved17() { return E_NOTIMPL; }
  /**
   * The name of the definition's projection (entry 18): kGaussKrugerName for
   * Transverse Mercator, PROJ's method name for any other projection, empty
   * for a geographic or unparsable definition.
   * @return S_OK, or E_POINTER for a null @p name; the caller frees the string.
   */
  virtual HRESULT GetProjectionName(BSTR* name) = 0;

 protected:
  ~ICoordSysProj() = default;
};

/** The grid converter. */
struct IGridConverter : public IUnknown {
  /** Unused slot (entry 4). */
  virtual HRESULT Reserved4() { return E_NOTIMPL; }
  /**
   * Converts a grid easting @p x and northing @p y of @p projection's
   * definition to longitude/latitude in degrees of its geographic base
   * (entry 5). On failure both outputs receive infinity and @p status a
   * non-zero PROJ error number (0 on success).
   * @return S_OK, E_POINTER for null arguments, E_INVALIDARG when the
   * definition is not projected, E_FAIL when PROJ fails for this point.
   */
  virtual HRESULT GridToLonLat(ICoordSysProj* projection, double x, double y, double* lon, double* lat,
                               std::int32_t* status) = 0;

 protected:
  ~IGridConverter() = default;
};

/** Identifier of ICoordSysDef. */
inline constexpr GUID IID_ICoordSysDef = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x71, 0x01}};
/** Identifier of ICoordSysProj. */
inline constexpr GUID IID_ICoordSysProj = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x71, 0x02}};
/** Identifier of IGridConverter. */
inline constexpr GUID IID_IGridConverter = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x71, 0x03}};
/** Class of the coordinate-system object. */
inline constexpr GUID CLSID_CoordSys = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x72, 0x01}};
/** Class of the grid converter. */
inline constexpr GUID CLSID_GridConverter = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x72, 0x02}};

/** Smart pointer over ICoordSysDef. */
typedef _com_ptr_t<ICoordSysDef> ICoordSysDefPtr;
/** Smart pointer over ICoordSysProj. */
typedef _com_ptr_t<ICoordSysProj> ICoordSysProjPtr;
/** Smart pointer over IGridConverter. */
typedef _com_ptr_t<IGridConverter> IGridConverterPtr;

namespace kmztile::platform {

/** Registers both classes in the in-process class registry (again). */
void RegisterCoordSysComponent();

/**
 * Registers both classes the first time it is called in the process and
 * does nothing afterwards, so that a class unregistered later stays so.
 */
void EnsureCoordSysComponentRegistered();

}  // namespace kmztile::platform
