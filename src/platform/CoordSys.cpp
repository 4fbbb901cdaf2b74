// The coordinate-system object and the grid converter as in-process COM
// classes over PROJ.
#include "platform/CoordSys.h"

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "platform/ComObject.h"
#include "platform/WideText.h"
#include "platform/detail/ProjDefinition.h"

namespace kmztile::platform {
namespace {

/**
 * The converter's private way into the coordinate-system object it is
 * handed: the PROJ objects of the current definition, reused point after point.
 */
struct ICoordSysTransform : public IUnknown {
  virtual HRESULT Transform(double x, double y, double* lon, double* lat, std::int32_t* status) = 0;

 protected:
  ~ICoordSysTransform() = default;
};
constexpr GUID IID_ICoordSysTransform = {0x3f2c8a10, 0x5b7e, 0x4d21, {0x8e, 0x11, 0x0a, 0x6c, 0x2f, 0x93, 0x71, 0x7f}};

class CoordSysObject final : public ICoordSysDef, public ICoordSysProj, public ICoordSysTransform {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICoordSysDef) {
      *ppv = static_cast<ICoordSysDef*>(this);
    } else if (riid == IID_ICoordSysProj) {
      *ppv = static_cast<ICoordSysProj*>(this);
    } else if (riid == IID_ICoordSysTransform) {
      *ppv = static_cast<ICoordSysTransform*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT SetDefinition(BSTR definition) override {
    text_ = definition ? definition : L"";
    return proj_.Set(WideToUtf8(text_)) ? S_OK : E_INVALIDARG;
  }
  HRESULT GetDefinition(BSTR* definition) override {
    if (!definition) return E_POINTER;
    *definition = SysAllocString(text_.c_str());
    return S_OK;
  }
  HRESULT GetProjectionName(BSTR* name) override {
    if (!name) return E_POINTER;
    *name = SysAllocString(proj_.ProjectionName().c_str());
    return S_OK;
  }
  HRESULT Transform(double x, double y, double* lon, double* lat, std::int32_t* status) override {
    if (!proj_.IsProjected()) {
      *lon = *lat = std::numeric_limits<double>::infinity();
      *status = PROJ_ERR_INVALID_OP;
      return E_INVALIDARG;
    }
    *status = proj_.GridToGeographic(x, y, *lon, *lat);
    return *status == 0 ? S_OK : E_FAIL;
  }

 private:
  ~CoordSysObject() = default;

  std::atomic<ULONG> refs_{0};
  std::wstring text_;
  detail::ProjDefinition proj_;
};

class GridConverter final : public ComObject<IGridConverter, IID_IGridConverter> {
 public:
  HRESULT GridToLonLat(ICoordSysProj* projection, double x, double y, double* lon, double* lat,
                       std::int32_t* status) override {
    if (!projection || !lon || !lat || !status) return E_POINTER;
    ICoordSysTransform* raw = nullptr;
    if (FAILED(projection->QueryInterface(IID_ICoordSysTransform, reinterpret_cast<void**>(&raw))) || !raw) {
      *status = PROJ_ERR_INVALID_OP;
      return E_INVALIDARG;  // a coordinate-system object of another component
    }
    const HRESULT hr = raw->Transform(x, y, lon, lat, status);
    raw->Release();
    return hr;
  }
};

template <typename T>
HRESULT CreateObject(IUnknown** out) {
  if (!out) return E_POINTER;
  T* object = new (std::nothrow) T();  // owned by its reference count from here on
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

}  // namespace

void RegisterCoordSysComponent() {
  CoRegisterClassFactory(CLSID_CoordSys, &CreateObject<CoordSysObject>);
  CoRegisterClassFactory(CLSID_GridConverter, &CreateObject<GridConverter>);
}

void EnsureCoordSysComponentRegistered() {
  static std::once_flag once;
  std::call_once(once, RegisterCoordSysComponent);
}

}  // namespace kmztile::platform
