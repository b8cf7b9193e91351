#include "driver_entry.h"

#include "adapter_trace_points.h"
#include "dispatch_context.h"
#include "driver_settings.h"
#include "request_dispatch.h"
#include "start_device.h"
#include "transfer_settings.h"

PDEVICE_OBJECT g_PhysicalDeviceObject = nullptr;

namespace {

// The framework's unload routine, when it installed one.
PDRIVER_UNLOAD g_FrameworkUnload = nullptr;

VOID StartDriverTracing(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  TRACE_POINT(kTraceTracingStarted, reinterpret_cast<ULONG_PTR>(DriverObject),
              RegistryPath != nullptr ? RegistryPath->Length : 0u);
}

VOID StopDriverTracing() {
  TRACE_POINT(kTraceTracingStopped);
}

NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject) {
  NTSTATUS status =
      PcAddAdapterDevice(DriverObject, PhysicalDeviceObject, StartDevice, 1, kDeviceExtensionSize);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceAddDeviceFailed, status);
    return status;
  }
  g_PhysicalDeviceObject = PhysicalDeviceObject;
  // Removal notices may come before any start (a start that failed below us): the dispatch
  // context must already hold a working mutex then.
  PDEVICE_OBJECT device = PhysicalDeviceObject->AttachedDevice;
  if (device != nullptr && device->DriverObject == DriverObject)
    ResetDispatchContext(GetDispatchContext(device));
  return status;
}

VOID DriverUnload(PDRIVER_OBJECT DriverObject) {
  StopDriverTracing();
  if (g_FrameworkUnload != nullptr) g_FrameworkUnload(DriverObject);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  StartDriverTracing(DriverObject, RegistryPath);
  ChooseDriverSettings();
  ResetTransferSettings();
  NTSTATUS status = PcInitializeAdapterDriver(DriverObject, RegistryPath, AddDevice);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceFrameworkInitFailed, status);
    StopDriverTracing();
    return status;
  }
  DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  DriverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  g_FrameworkUnload = DriverObject->DriverUnload;
  DriverObject->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;
}
