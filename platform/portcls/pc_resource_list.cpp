#include "portcls/pc_resource_list.h"

#include <new>

#include "kernel_mode.h"
#include "portcls/pc_pool_tags.h"

namespace tarnlink::portcls {
namespace {

class CEmptyResourceList final : public IResourceList {
 public:
  STDMETHODIMP QueryInterface(REFIID InterfaceId, PVOID* Interface) override {
    if (Interface == nullptr) return STATUS_INVALID_PARAMETER;
    if (InterfaceId != IID_IUnknown && InterfaceId != IID_IResourceList) {
      *Interface = nullptr;
      return STATUS_INVALID_PARAMETER;
    }
    *Interface = static_cast<IResourceList*>(this);
    AddRef();
    return STATUS_SUCCESS;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
      this->~CEmptyResourceList();
      ExFreePoolWithTag(this, kResourceTag);
    }
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP_(ULONG) NumberOfEntries() override { return 0; }
  STDMETHODIMP_(ULONG) NumberOfEntriesOfType(CM_RESOURCE_TYPE) override { return 0; }
  STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR)
  FindTranslatedEntry(CM_RESOURCE_TYPE, ULONG) override { return nullptr; }
  STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR)
  FindUntranslatedEntry(CM_RESOURCE_TYPE, ULONG) override { return nullptr; }
  // The list has no room: it describes the device's resources, which are none.
  STDMETHODIMP AddEntry(PCM_PARTIAL_RESOURCE_DESCRIPTOR, PCM_PARTIAL_RESOURCE_DESCRIPTOR) override {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  STDMETHODIMP AddEntryFromParent(IResourceList*, CM_RESOURCE_TYPE, ULONG) override {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  STDMETHODIMP_(PCM_RESOURCE_LIST) TranslatedList() override { return nullptr; }
  STDMETHODIMP_(PCM_RESOURCE_LIST) UntranslatedList() override { return nullptr; }

 private:
  friend PRESOURCELIST tarnlink::portcls::NewEmptyResourceList();
  CEmptyResourceList() = default;
  ~CEmptyResourceList() = default;

  LONG references_ = 1;
};

}  // namespace

PRESOURCELIST NewEmptyResourceList() {
  PVOID memory = ExAllocatePoolZero(NonPagedPoolNx, sizeof(CEmptyResourceList), kResourceTag);
  if (memory == nullptr) return nullptr;
  return new (memory) CEmptyResourceList();
}

}  // namespace tarnlink::portcls
