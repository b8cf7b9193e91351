#include "filter_property_handlers.h"

#include "miniport_wavert.h"

namespace {

// The adapter behind the miniport a request is addressed to, referenced; null when the target
// is not this driver's miniport.
PUSBAUDIOADAPTER ReferenceAdapter(PPCPROPERTY_REQUEST Request) {
  if (Request == nullptr || Request->MajorTarget == nullptr) return nullptr;
  PVOID control = nullptr;
  if (!NT_SUCCESS(Request->MajorTarget->QueryInterface(IID_IMiniportStreamControl, &control)))
    return nullptr;
  auto* miniport = static_cast<CMiniportWaveRT*>(static_cast<IMiniportStreamControl*>(control));
  PUSBAUDIOADAPTER adapter = miniport->Adapter();
  if (adapter != nullptr) adapter->AddRef();
  miniport->Release();
  return adapter;
}

template <typename Handle>
NTSTATUS ForwardToAdapter(PPCPROPERTY_REQUEST Request, Handle handle) {
  PUSBAUDIOADAPTER adapter = ReferenceAdapter(Request);
  if (adapter == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  NTSTATUS status = handle(adapter);
  adapter->Release();
  return status;
}

}  // namespace

NTSTATUS JackPropertyHandler(PPCPROPERTY_REQUEST Request) {
  return ForwardToAdapter(Request, [Request](PUSBAUDIOADAPTER adapter) {
    return adapter->HandleJackProperty(Request);
  });
}

NTSTATUS NodePropertyHandler(PPCPROPERTY_REQUEST Request) {
  return ForwardToAdapter(Request, [Request](PUSBAUDIOADAPTER adapter) {
    return adapter->HandleNodeProperty(Request);
  });
}
