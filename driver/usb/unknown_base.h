// The reference-counted base of the driver's framework objects: it owns the count and the outer
// unknown (the object itself when it is not aggregated); the object's other interfaces forward
// QueryInterface, AddRef and Release to that outer unknown. Objects live in the driver's pool
// and go away at their last release.
#pragma once

#include "kernel_mode.h"

class CUnknown : public INonDelegatingUnknown {
 public:
  explicit CUnknown(PUNKNOWN outerUnknown);
  virtual ~CUnknown() = default;
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  // Answers IID_IUnknown only (with a reference); derived objects add their interfaces.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) override;
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  // At zero the count is set back to 1 (so a release from the destructor cannot recurse) and
  // the object deletes itself.
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  PUNKNOWN OuterUnknown() const { return m_OuterUnknown; }

  // Framework objects are pool blocks: new(poolType, tag) as the framework's own objects are.
  static void* operator new(size_t bytes, POOL_TYPE poolType, ULONG tag) noexcept;
  static void operator delete(void* memory) noexcept;
  static void operator delete(void* memory, POOL_TYPE, ULONG) noexcept;

 protected:
  PUNKNOWN m_OuterUnknown;
  volatile LONG m_RefCount = 0;
};
