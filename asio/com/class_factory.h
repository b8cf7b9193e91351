// The class factory and the table of classes the server makes: one row, the ASIO driver.
#pragma once

#include "unknown.h"

// Makes one object for the factory; null when it cannot. result may be set to a failure, which
// the factory then returns after deleting the object.
using CreateFunction = CUnknown* (*)(IUnknown* outer, HRESULT* result);
// Called at process attach (TRUE) and detach (FALSE).
using InitRoutine = void (*)(BOOL loading);

struct CFactoryTemplate {
  LPCWSTR name;
  const CLSID* clsid;
  CreateFunction create;
  InitRoutine init;
  const void* setupData;
};

// The rows, and the row of clsid (null when the server has no such class).
extern const CFactoryTemplate g_Templates[];
extern const int g_cTemplates;
const CFactoryTemplate* FindTemplate(REFCLSID clsid);

class CClassFactory : public IClassFactory {
 public:
  explicit CClassFactory(const CFactoryTemplate* row);
  virtual ~CClassFactory() = default;
  CClassFactory(const CClassFactory&) = delete;
  CClassFactory& operator=(const CClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, PVOID* object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, PVOID* object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  // LockServer's count over every factory of the process.
  static LONG ServerLocks();

 private:
  ULONG references_ = 0;
  const CFactoryTemplate* row_;
};
