// Plug and Play requests of an adapter device: start, removal and capabilities.
#include "portcls/pc_dispatch.h"
#include "portcls/pc_resource_list.h"
#include "portcls/pc_subdevice.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

NTSTATUS StartDevice(DeviceContext* context, PIRP Irp) {
  NTSTATUS status = ForwardAndWait(context, Irp);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTracePcStartLowerFailed, status);
  } else if (PRESOURCELIST resources = NewEmptyResourceList(); resources == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else {
    context->starting = TRUE;
    status = context->startDevice(context->functionalDevice, Irp, resources);
    context->starting = FALSE;
    resources->Release();
    if (!NT_SUCCESS(status)) TRACE_POINT(kTracePcStartRoutineFailed, status);
  }
  context->state = NT_SUCCESS(status) ? DeviceState::Started : DeviceState::StartFailed;
  if (NT_SUCCESS(status)) TRACE_POINT(kTracePcDeviceStarted);
  return CompleteIrp(Irp, status);
}

// The device goes: registrations end, the request goes down, and the device object with it.
NTSTATUS RemoveDevice(DeviceContext* context, PIRP Irp) {
  ReleaseDeviceRegistrations(context);
  PDEVICE_OBJECT device = context->functionalDevice;
  PDEVICE_OBJECT lower = context->lowerDevice;
  context->signature = 0;
  Irp->IoStatus.Status = STATUS_SUCCESS;
  IoSkipCurrentIrpStackLocation(Irp);
  NTSTATUS status = IoCallDriver(lower, Irp);
  IoDetachDevice(lower);
  IoDeleteDevice(device);
  TRACE_POINT(kTracePcDeviceRemoved);
  return status;
}

NTSTATUS QueryCapabilities(DeviceContext* context, PIRP Irp) {
  NTSTATUS status = ForwardAndWait(context, Irp);
  PDEVICE_CAPABILITIES capabilities =
      IoGetCurrentIrpStackLocation(Irp)->Parameters.DeviceCapabilities.Capabilities;
  if (NT_SUCCESS(status) && capabilities != nullptr) {
    LockDevice(context);
    PADAPTERPOWERMANAGEMENT power = context->power;
    if (power != nullptr) power->AddRef();
    UnlockDevice(context);
    if (power != nullptr) {
      status = power->QueryDeviceCapabilities(capabilities);
      power->Release();
    }
  }
  return CompleteIrp(Irp, status);
}

}  // namespace

NTSTATUS DispatchPnp(DeviceContext* context, PIRP Irp) {
  switch (IoGetCurrentIrpStackLocation(Irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartDevice(context, Irp);
    case IRP_MN_REMOVE_DEVICE:
      return RemoveDevice(context, Irp);
    case IRP_MN_SURPRISE_REMOVAL:
      // The hardware is gone: nobody may open its filters any more.
      context->state = DeviceState::SurpriseRemoved;
      DisableSubdeviceInterfaces(context);
      Irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(context, Irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
      Irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(context, Irp);
    case IRP_MN_STOP_DEVICE:
      // A later start registers everything again.
      ReleaseDeviceRegistrations(context);
      context->state = DeviceState::Added;
      Irp->IoStatus.Status = STATUS_SUCCESS;
      return PassDown(context, Irp);
    case IRP_MN_QUERY_CAPABILITIES:
      return QueryCapabilities(context, Irp);
    default:
      return PassDown(context, Irp);
  }
}

}  // namespace tarnlink::portcls
