#pragma once
// Reference counting and QueryInterface for in-process objects that offer one
// interface besides IUnknown.
#include <atomic>

#include "kmztile/Com.h"

namespace kmztile::platform {

/** Implements IUnknown for a class deriving from interface @p I with identifier @p iid. */
template <typename I, const GUID& iid>
class ComObject : public I {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == iid) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> refs_{0};
};

}  // namespace kmztile::platform
