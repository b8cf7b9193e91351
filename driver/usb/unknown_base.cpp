#include "unknown_base.h"

#include "usb_trace_points.h"

CUnknown::CUnknown(PUNKNOWN outerUnknown)
    : m_OuterUnknown(outerUnknown != nullptr
                         ? outerUnknown
                         : reinterpret_cast<PUNKNOWN>(static_cast<PNONDELEGATINGUNKNOWN>(this))) {}

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (!IsEqualGUID(interfaceId, IID_IUnknown)) {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  *object = static_cast<PNONDELEGATINGUNKNOWN>(this);
  NonDelegatingAddRef();
  return STATUS_SUCCESS;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&m_RefCount));
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
  const LONG count = InterlockedDecrement(&m_RefCount);
  if (count > 0) return static_cast<ULONG>(count);
  if (count < 0) {
    // Released more often than referenced: the object is already gone or going.
    TRACE_POINT(kTraceUnknownOverReleased, count);
    return 0;
  }
  m_RefCount = 1;
  delete this;
  return 0;
}

void* CUnknown::operator new(size_t bytes, POOL_TYPE poolType, ULONG tag) noexcept {
  return ExAllocatePoolZero(poolType, bytes, tag);
}

void CUnknown::operator delete(void* memory) noexcept {
  if (memory != nullptr) ExFreePool(memory);
}

void CUnknown::operator delete(void* memory, POOL_TYPE, ULONG) noexcept {
  if (memory != nullptr) ExFreePool(memory);
}
