#include "class_factory.h"

#include <new>

namespace {

// The COM runtime serialises LockServer on an apartment-threaded server's factory.
LONG g_serverLocks = 0;

}  // namespace

const CFactoryTemplate* FindTemplate(REFCLSID clsid) {
  for (int i = 0; i < g_cTemplates; ++i) {
    if (IsEqualGUID(*g_Templates[i].clsid, clsid)) return &g_Templates[i];
  }
  return nullptr;
}

CClassFactory::CClassFactory(const CFactoryTemplate* row) : row_(row) {}

HRESULT CClassFactory::QueryInterface(REFIID riid, PVOID* object) {
  if (object == nullptr) return E_POINTER;
  if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CClassFactory::AddRef() { return ++references_; }

ULONG CClassFactory::Release() {
  const ULONG count = --references_;
  if (count == 0) delete this;
  return count;
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, PVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // An aggregating object may only hold the inner object's own unknown.
  if (outer != nullptr && !IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
  HRESULT result = S_OK;
  CUnknown* created = row_->create(outer, &result);
  if (created == nullptr) return E_OUTOFMEMORY;
  if (FAILED(result)) {
    delete created;
    return result;
  }
  // The query's reference is the caller's; a failed query lets the object go.
  created->NonDelegatingAddRef();
  result = created->NonDelegatingQueryInterface(riid, object);
  created->NonDelegatingRelease();
  return result;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  g_serverLocks += lock ? 1 : -1;
  return S_OK;
}

LONG CClassFactory::ServerLocks() { return g_serverLocks; }
