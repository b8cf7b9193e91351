#include "portcls/pc_port_stream.h"

#include <new>

#include "kernel_mode.h"
#include "portcls/pc_pool_tags.h"

namespace tarnlink::portcls {

CPortWaveRTStream* CPortWaveRTStream::Create() {
  PVOID memory = ExAllocatePoolZero(NonPagedPoolNx, sizeof(CPortWaveRTStream), kPortStreamTag);
  return memory == nullptr ? nullptr : new (memory) CPortWaveRTStream();
}

STDMETHODIMP CPortWaveRTStream::QueryInterface(REFIID InterfaceId, PVOID* Interface) {
  if (Interface == nullptr) return STATUS_INVALID_PARAMETER;
  if (InterfaceId != IID_IUnknown && InterfaceId != IID_IPortWaveRTStream) {
    *Interface = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  *Interface = static_cast<IPortWaveRTStream*>(this);
  AddRef();
  return STATUS_SUCCESS;
}

STDMETHODIMP_(ULONG) CPortWaveRTStream::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CPortWaveRTStream::Release() {
  LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    this->~CPortWaveRTStream();
    ExFreePoolWithTag(this, kPortStreamTag);
  }
  return static_cast<ULONG>(left);
}

// The host's memory has no physical addresses to choose from: the pages are pool pages, which
// every address limit admits.
STDMETHODIMP_(PMDL) CPortWaveRTStream::AllocatePagesForMdl(PHYSICAL_ADDRESS, SIZE_T TotalBytes) {
  if (TotalBytes == 0 || TotalBytes > 0xFFFFFFFFull - PAGE_SIZE) return nullptr;
  PVOID pages = ExAllocatePoolZero(NonPagedPoolNx, TotalBytes, kBufferTag);
  if (pages == nullptr) return nullptr;
  PMDL mdl = IoAllocateMdl(pages, static_cast<ULONG>(TotalBytes), FALSE, FALSE, nullptr);
  if (mdl == nullptr) {
    ExFreePoolWithTag(pages, kBufferTag);
    return nullptr;
  }
  MmBuildMdlForNonPagedPool(mdl);
  return mdl;
}

STDMETHODIMP_(PMDL) CPortWaveRTStream::AllocateContiguousPagesForMdl(PHYSICAL_ADDRESS,
                                                                     PHYSICAL_ADDRESS HighAddress,
                                                                     SIZE_T TotalBytes) {
  return AllocatePagesForMdl(HighAddress, TotalBytes);
}

STDMETHODIMP_(PVOID) CPortWaveRTStream::MapAllocatedPages(PMDL MemoryDescriptorList,
                                                          MEMORY_CACHING_TYPE) {
  if (MemoryDescriptorList == nullptr) return nullptr;
  mapped_ = MmGetMdlVirtualAddress(MemoryDescriptorList);
  return mapped_;
}

STDMETHODIMP_(VOID) CPortWaveRTStream::UnmapAllocatedPages(PVOID BaseAddress, PMDL) {
  if (BaseAddress == mapped_) mapped_ = nullptr;
}

STDMETHODIMP_(VOID) CPortWaveRTStream::FreePagesFromMdl(PMDL MemoryDescriptorList) {
  if (MemoryDescriptorList == nullptr) return;
  PVOID pages = MmGetMdlVirtualAddress(MemoryDescriptorList);
  IoFreeMdl(MemoryDescriptorList);
  ExFreePoolWithTag(pages, kBufferTag);
}

STDMETHODIMP_(ULONG) CPortWaveRTStream::GetPhysicalPagesCount(PMDL MemoryDescriptorList) {
  if (MemoryDescriptorList == nullptr) return 0;
  const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(MemoryDescriptorList));
  const ULONG_PTR end = start + MmGetMdlByteCount(MemoryDescriptorList);
  return static_cast<ULONG>((ROUND_TO_PAGES(end) - (start & ~ULONG_PTR{PAGE_SIZE - 1})) / PAGE_SIZE);
}

STDMETHODIMP_(PHYSICAL_ADDRESS) CPortWaveRTStream::GetPhysicalPageAddress(PMDL MemoryDescriptorList,
                                                                          ULONG Index) {
  PHYSICAL_ADDRESS address;
  address.QuadPart = 0;
  if (MemoryDescriptorList != nullptr && Index < GetPhysicalPagesCount(MemoryDescriptorList))
    address.QuadPart = static_cast<LONGLONG>(MmGetMdlPfnArray(MemoryDescriptorList)[Index]) << 12;
  return address;
}

}  // namespace tarnlink::portcls
