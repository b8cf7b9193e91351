#include "unknown.h"

namespace {

volatile LONG g_objects = 0;

}  // namespace

inline namespace asio_server {

CBaseObject::CBaseObject(const char* name) : name_(name) { InterlockedIncrement(&g_objects); }

CBaseObject::~CBaseObject() { InterlockedDecrement(&g_objects); }

LONG CBaseObject::ObjectCount() { return InterlockedCompareExchange(&g_objects, 0, 0); }

CUnknown::CUnknown(const char* name, IUnknown* outer)
    : CBaseObject(name), face_(this), owner_(outer != nullptr ? outer : &face_) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, PVOID* object) {
  if (object == nullptr) return E_POINTER;
  if (!IsEqualGUID(riid, IID_IUnknown)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = &face_;
  face_.AddRef();
  return S_OK;
}

ULONG CUnknown::NonDelegatingAddRef() {
  const LONG count = InterlockedIncrement(&references_);
  return count > 1 ? static_cast<ULONG>(count) : 1;
}

ULONG CUnknown::NonDelegatingRelease() {
  const LONG count = InterlockedDecrement(&references_);
  if (count != 0) return static_cast<ULONG>(count);
  // A call made while the object goes away (its destructor may release what holds it) must
  // not count down to zero a second time.
  references_ = 1;
  delete this;
  return 0;
}

}  // namespace asio_server
