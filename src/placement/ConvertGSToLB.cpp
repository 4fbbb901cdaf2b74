// Grid (Gauss-Kruger) to longitude/latitude through the coordinate-system
// component: the definition is applied only when it changed, the projection
// name decides whether anything is converted, and the converter is created
// on the first Gauss-Kruger pair.
#include <cwchar>
#include <memory>

#include "BaseParser.h"
#include "platform/CoordSys.h"
#include "placement/detail/SharedPointers.h"

namespace {

struct BstrFree {
  void operator()(wchar_t* s) const { SysFreeString(s); }
};
using BstrHolder = std::unique_ptr<wchar_t, BstrFree>;

// CoCreateInstance (all class contexts, IUnknown), OleRun, then the wanted
// interface; any failed step leaves @p out null.
template <typename I>
void CreateShared(REFCLSID clsid, REFIID iid, _com_ptr_t<I>& out) {
  IUnknown* raw = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&raw))) || !raw)
    return;
  _com_ptr_t<IUnknown> unknown(raw, false);
  if (FAILED(OleRun(unknown))) return;
  I* wanted = nullptr;
  if (FAILED(unknown->QueryInterface(iid, reinterpret_cast<void**>(&wanted))) || !wanted) return;
  out.Attach(wanted);
}

const wchar_t* OrEmpty(const wchar_t* s) { return s ? s : L""; }

}  // namespace

void CBaseParser::ConvertGSToLB(double x, double y, double& lon, double& lat) {
  kmztile::platform::EnsureCoordSysComponentRegistered();
  ICoordSysDefPtr& coordSys = kmztile::placement::detail::SharedCoordSys();
  if (!coordSys) CreateShared(CLSID_CoordSys, IID_ICoordSysDef, coordSys);
  if (!coordSys) _com_issue_error(E_POINTER);

  BSTR current = nullptr;
  coordSys->GetDefinition(&current);
  const BstrHolder currentHolder(current);
  if (std::wcscmp(OrEmpty(current), OrEmpty(m_coordSysText)) != 0) {
    const BstrHolder text(SysAllocString(OrEmpty(m_coordSysText)));
    coordSys->SetDefinition(text.get());
  }

  ICoordSysProj* rawProjection = nullptr;
  const HRESULT query = coordSys->QueryInterface(IID_ICoordSysProj, reinterpret_cast<void**>(&rawProjection));
  if (query == E_NOINTERFACE || (SUCCEEDED(query) && !rawProjection)) _com_issue_error(E_POINTER);
  if (FAILED(query)) _com_issue_error(query);
  const ICoordSysProjPtr projection(rawProjection, false);

  BSTR name = nullptr;
  projection->GetProjectionName(&name);
  const BstrHolder nameHolder(name);
  if (std::wcscmp(OrEmpty(name), kmztile::platform::kGaussKrugerName) != 0) {
    lon = x;
    lat = y;
    return;
  }

  IGridConverterPtr& converter = kmztile::placement::detail::SharedConverter();
  if (!converter) CreateShared(CLSID_GridConverter, IID_IGridConverter, converter);
  if (!converter) _com_issue_error(E_POINTER);
  std::int32_t status = 0;
  converter->GridToLonLat(projection, x, y, &lon, &lat, &status);
}
