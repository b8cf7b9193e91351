// The port's half of one WaveRT pin: the pages of its cyclic buffer, given to the miniport's
// stream on request, and the system address they are mapped at.
#pragma once

#include "portcls/portcls.h"

namespace tarnlink::portcls {

class CPortWaveRTStream final : public IPortWaveRTStream {
 public:
  static CPortWaveRTStream* Create();

  STDMETHODIMP QueryInterface(REFIID InterfaceId, PVOID* Interface) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP_(PMDL) AllocatePagesForMdl(PHYSICAL_ADDRESS HighAddress, SIZE_T TotalBytes) override;
  STDMETHODIMP_(PMDL) AllocateContiguousPagesForMdl(PHYSICAL_ADDRESS LowAddress,
                                                    PHYSICAL_ADDRESS HighAddress,
                                                    SIZE_T TotalBytes) override;
  STDMETHODIMP_(PVOID) MapAllocatedPages(PMDL MemoryDescriptorList,
                                         MEMORY_CACHING_TYPE CacheType) override;
  STDMETHODIMP_(VOID) UnmapAllocatedPages(PVOID BaseAddress, PMDL MemoryDescriptorList) override;
  STDMETHODIMP_(VOID) FreePagesFromMdl(PMDL MemoryDescriptorList) override;
  STDMETHODIMP_(ULONG) GetPhysicalPagesCount(PMDL MemoryDescriptorList) override;
  STDMETHODIMP_(PHYSICAL_ADDRESS) GetPhysicalPageAddress(PMDL MemoryDescriptorList,
                                                         ULONG Index) override;

  // The mapped buffer the client is given, or null before the miniport mapped one.
  PVOID MappedAddress() const { return mapped_; }

 private:
  CPortWaveRTStream() = default;
  ~CPortWaveRTStream() = default;

  LONG references_ = 1;
  PVOID mapped_ = nullptr;
};

}  // namespace tarnlink::portcls
