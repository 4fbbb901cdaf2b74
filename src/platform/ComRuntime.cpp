// The in-process stand-ins for the COM runtime: BSTR allocation and a class
// registry that CoCreateInstance consults. Components register their
// factories; tests register fakes or leave a class out.
#include <cwchar>
#include <map>
#include <mutex>

#include "kmztile/Com.h"

namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::map<GUID, ComClassFactory, GuidLess>& Registry() {
  static std::map<GUID, ComClassFactory, GuidLess> r;
  return r;
}

}  // namespace

BSTR SysAllocString(const wchar_t* text) {
  if (!text) return nullptr;
  const size_t n = std::wcslen(text);
  auto* copy = new wchar_t[n + 1];  // owned by the caller until SysFreeString
  std::wmemcpy(copy, text, n + 1);
  return copy;
}

void SysFreeString(BSTR text) { delete[] text; }

void CoRegisterClassFactory(REFCLSID clsid, ComClassFactory factory) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry()[clsid] = factory;
}

void CoUnregisterClassFactory(REFCLSID clsid) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().erase(clsid);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* /*outer*/, std::uint32_t /*clsctx*/, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComClassFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    const auto it = Registry().find(clsid);
    if (it == Registry().end()) return REGDB_E_CLASSNOTREG;
    factory = it->second;
  }
  IUnknown* object = nullptr;
  const HRESULT hr = factory(&object);
  if (FAILED(hr)) return hr;
  if (!object) return E_FAIL;
  const HRESULT q = object->QueryInterface(riid, ppv);
  object->Release();
  return q;
}

HRESULT OleRun(IUnknown* object) { return object ? S_OK : E_POINTER; }
