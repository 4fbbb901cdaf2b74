#pragma once
/**
 * @file Com.h
 * A minimal in-process COM layer with the desktop SDK's own names, so that
 * host code written against those names compiles unchanged on Linux:
 * result codes, BSTR helpers, GUIDs, the IUnknown base, the smart pointer
 * template behind IPyramidPtr and the _com_error exception.
 */
#include <cstdint>
#include <cstring>
#include <utility>

#include "kmztile/Export.h"

/** 32-bit COM result code; negative values are failures. */
typedef std::int32_t HRESULT;
/** Reference counts returned by AddRef and Release. */
typedef std::uint32_t ULONG;
/** COM boolean: VARIANT_TRUE (-1) or VARIANT_FALSE (0). */
typedef short VARIANT_BOOL;
/** A wide string allocated by SysAllocString and freed by SysFreeString. */
typedef wchar_t* BSTR;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

/** Class contexts accepted by CoCreateInstance (all map to the in-process registry). */
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

/** 128-bit globally unique identifier. */
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;

/** True when both identifiers are the same 128 bits. */
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

/** Identifier of IUnknown, {00000000-0000-0000-C000-000000000046}. */
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/** The base of every COM interface: reference counting and interface queries. */
struct IUnknown {
  /** Asks for interface @p riid; on success stores it (with a new reference) in @p ppv. */
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  /** Adds a reference and returns the new count. */
  virtual ULONG AddRef() = 0;
  /** Drops a reference, destroying the object at zero, and returns the new count. */
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

/** Binds an interface type to its identifier, for the smart pointer. */
template <typename T>
struct ComTraits;

/**
 * Allocates a BSTR holding a copy of @p text (NULL stays NULL).
 * @return the new string, freed with SysFreeString.
 */
KMZTILE_API BSTR SysAllocString(const wchar_t* text);
/** Frees a string from SysAllocString; NULL is allowed. */
KMZTILE_API void SysFreeString(BSTR text);

/** The exception raised by COM smart pointers; carries the failing HRESULT. */
class KMZTILE_API _com_error {
 public:
  /** Wraps @p hr. */
  explicit _com_error(HRESULT hr) noexcept : hr_(hr) {}
  /** @return the HRESULT that caused the error. */
  HRESULT Error() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

/** Raises _com_error with @p hr. */
[[noreturn]] inline void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

/**
 * The smart pointer of the desktop SDK (_com_ptr_t): holds one reference,
 * adds one when constructed from a raw pointer, releases it when destroyed.
 * operator-> on a null pointer raises _com_error(E_POINTER).
 */
template <typename I>
class _com_ptr_t {
 public:
  _com_ptr_t() noexcept = default;
  _com_ptr_t(std::nullptr_t) noexcept {}
  /** Takes a new reference on @p p (AddRef), like the SDK's pointer constructor. */
  _com_ptr_t(I* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  /** Takes @p p without adding a reference when @p addRef is false. */
  _com_ptr_t(I* p, bool addRef) : p_(p) {
    if (p_ && addRef) p_->AddRef();
  }
  _com_ptr_t(const _com_ptr_t& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  _com_ptr_t(_com_ptr_t&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~_com_ptr_t() { Release(); }

  _com_ptr_t& operator=(const _com_ptr_t& o) {
    if (this != &o) {
      I* old = p_;
      p_ = o.p_;
      if (p_) p_->AddRef();
      if (old) old->Release();
    }
    return *this;
  }
  _com_ptr_t& operator=(_com_ptr_t&& o) noexcept {
    if (this != &o) {
      Release();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  _com_ptr_t& operator=(I* p) { return *this = _com_ptr_t(p); }

  /** Drops the held reference, if any; the pointer becomes null. */
  void Release() {
    if (I* p = std::exchange(p_, nullptr)) p->Release();
  }
  /** Takes ownership of @p p without adding a reference. */
  void Attach(I* p) {
    Release();
    p_ = p;
  }
  /** Gives up ownership without releasing. */
  I* Detach() noexcept { return std::exchange(p_, nullptr); }
  /** @return the raw pointer, without a new reference. */
  I* GetInterfacePtr() const noexcept { return p_; }
  /** Access through a null pointer raises _com_error(E_POINTER). */
  I* operator->() const {
    if (!p_) _com_issue_error(E_POINTER);
    return p_;
  }
  operator I*() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
  bool operator!=(std::nullptr_t) const noexcept { return p_ != nullptr; }

 private:
  I* p_ = nullptr;
};

/**
 * Factory registered for a class identifier in the in-process class registry.
 * It creates a new object and stores its IUnknown (one reference) in @p out.
 */
typedef HRESULT (*ComClassFactory)(IUnknown** out);

/** Registers @p factory for @p clsid, replacing an earlier one. */
KMZTILE_API void CoRegisterClassFactory(REFCLSID clsid, ComClassFactory factory);
/** Removes the registration of @p clsid (no effect when absent). */
KMZTILE_API void CoUnregisterClassFactory(REFCLSID clsid);

/**
 * Creates an object of class @p clsid from the in-process registry and asks it
 * for @p riid. @return S_OK, REGDB_E_CLASSNOTREG for an unknown class,
 * E_POINTER for a null @p ppv, or the object's own QueryInterface failure.
 */
KMZTILE_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, std::uint32_t clsctx, REFIID riid,
                                     void** ppv);
/** Puts an object into its running state; in-process objects already are. @return S_OK, or E_POINTER for NULL. */
KMZTILE_API HRESULT OleRun(IUnknown* object);
