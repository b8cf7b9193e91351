// The COM base interfaces, IUnknown and IClassFactory, with the slots in their published order.
// Kernel-mode frameworks built on the same reference-counting model use this IUnknown too.
// An interface is an abstract class without a destructor slot: an object goes away through its
// last Release, so interface destructors are protected.
#pragma once

#include "kernel/ntdef.h"

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE
#define PURE = 0

// {00000000-0000-0000-C000-000000000046}
inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr GUID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, PVOID* ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

// The unknown of an object that may be aggregated: it owns the reference count, while the
// QueryInterface, AddRef and Release of the object's other interfaces forward to the outer
// unknown (this one when the object is not aggregated).
struct INonDelegatingUnknown {
  STDMETHOD(NonDelegatingQueryInterface)(REFIID InterfaceId, PVOID* Interface) PURE;
  STDMETHOD_(ULONG, NonDelegatingAddRef)() PURE;
  STDMETHOD_(ULONG, NonDelegatingRelease)() PURE;

 protected:
  ~INonDelegatingUnknown() = default;
};

struct IClassFactory : public IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;

 protected:
  ~IClassFactory() = default;
};
typedef IClassFactory* LPCLASSFACTORY;
