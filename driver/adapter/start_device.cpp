#include "start_device.h"

#include "adapter_trace_points.h"
#include "dispatch_context.h"
#include "driver_entry.h"
#include "subdevice_install.h"
#include "usb_audio_adapter.h"

NTSTATUS StartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PRESOURCELIST ResourceList) {
  UNREFERENCED_PARAMETER(Irp);
  UNREFERENCED_PARAMETER(ResourceList);
  DispatchContext* context = GetDispatchContext(DeviceObject);
  ResetDispatchContext(context);

  PUSBAUDIOADAPTER adapter = nullptr;
  NTSTATUS status = UsbAudioAdapter::Create(&adapter);
  if (NT_SUCCESS(status)) status = adapter->Init(g_PhysicalDeviceObject, DeviceObject);
  if (NT_SUCCESS(status)) status = PcRegisterAdapterPowerManagement(adapter, DeviceObject);
  if (NT_SUCCESS(status)) {
    // A fixed rate without a name leaves the device without a subdevice, not unstarted.
    ULONG fixedRate = 0;
    adapter->GetFixedRate(&fixedRate);
    InstallSubdevice(DeviceObject, adapter, fixedRate);
  }
  if (adapter != nullptr) {
    context->Adapter = adapter;
    // After a failure this is the last reference, and the adapter takes itself out of the
    // context again as it goes.
    adapter->Release();
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceDeviceStartFailed, status);
    return status;
  }
  TRACE_POINT(kTraceDeviceStarted);
  return STATUS_SUCCESS;
}
