#include "start_device.h"

#include <new>

#include "adapter_trace_points.h"
#include "driver_entry.h"
#include "usb_function.h"
#include "usb_support.h"

namespace {

// The IRPs the USB function keeps for its asynchronous transfers.
constexpr ULONG kFunctionIrpCount = 16;

// The start step of this stage of the driver: the USB function on its own. The adapter object
// takes its place and starts the function from its initialisation.
NTSTATUS StartUsbFunction(PDEVICE_OBJECT DeviceObject, CUSBCL** Function) {
  PVOID memory = AllocateDriverPool(sizeof(CUSBCL));
  if (memory == nullptr) {
    TRACE_POINT(kTraceUsbFunctionAllocFailed);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  CUSBCL* function = new (memory) CUSBCL();
  NTSTATUS status =
      function->StartFunction(g_PhysicalDeviceObject, DeviceObject, kFunctionIrpCount);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceUsbFunctionStartFailed, status);
    function->~CUSBCL();
    FreeDriverPool(memory);
    return status;
  }
  *Function = function;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS StartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PRESOURCELIST ResourceList) {
  UNREFERENCED_PARAMETER(Irp);
  UNREFERENCED_PARAMETER(ResourceList);
  DispatchContext* context = GetDispatchContext(DeviceObject);
  StopDeviceFunction(context);
  ResetDispatchContext(context);
  CUSBCL* function = nullptr;
  NTSTATUS status = StartUsbFunction(DeviceObject, &function);
  if (!NT_SUCCESS(status)) return status;
  context->Adapter = function;
  TRACE_POINT(kTraceDeviceStarted);
  return STATUS_SUCCESS;
}

VOID StopDeviceFunction(DispatchContext* Context) {
  auto* function = static_cast<CUSBCL*>(Context->Adapter);
  Context->Adapter = nullptr;
  if (function == nullptr) return;
  function->~CUSBCL();
  FreeDriverPool(function);
}
