// Adapter power management: the adapter's interface, called for device power requests.
#include "portcls/pc_dispatch.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

PADAPTERPOWERMANAGEMENT ReferencePower(DeviceContext* context) {
  LockDevice(context);
  PADAPTERPOWERMANAGEMENT power = context->power;
  if (power != nullptr) power->AddRef();
  UnlockDevice(context);
  return power;
}

}  // namespace

NTSTATUS DispatchPower(DeviceContext* context, PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  bool devicePower = stack->Parameters.Power.Type == DevicePowerState;
  bool set = stack->MinorFunction == IRP_MN_SET_POWER;
  bool query = stack->MinorFunction == IRP_MN_QUERY_POWER;
  if (!devicePower || (!set && !query)) return PassDown(context, Irp);

  NTSTATUS status = STATUS_SUCCESS;
  if (PADAPTERPOWERMANAGEMENT power = ReferencePower(context); power != nullptr) {
    if (set)
      power->PowerChangeState(stack->Parameters.Power.State);
    else
      status = power->QueryPowerChangeState(stack->Parameters.Power.State);
    power->Release();
  }
  if (!NT_SUCCESS(status)) return CompleteIrp(Irp, status);
  Irp->IoStatus.Status = STATUS_SUCCESS;
  return PassDown(context, Irp);
}

}  // namespace tarnlink::portcls

NTSTATUS PcRegisterAdapterPowerManagement(PUNKNOWN Unknown, PVOID pvContext1) {
  using namespace tarnlink::portcls;
  DeviceContext* context = ContextOf(static_cast<PDEVICE_OBJECT>(pvContext1));
  if (Unknown == nullptr || context == nullptr) {
    TRACE_POINT(kTracePcPowerRefused, 1u);
    return STATUS_INVALID_PARAMETER;
  }
  PVOID power = nullptr;
  NTSTATUS status = Unknown->QueryInterface(IID_IAdapterPowerManagement, &power);
  if (!NT_SUCCESS(status) || power == nullptr) {
    TRACE_POINT(kTracePcPowerRefused, 2u);
    return STATUS_INVALID_PARAMETER;
  }
  LockDevice(context);
  bool registered = context->power != nullptr;
  if (!registered) context->power = static_cast<PADAPTERPOWERMANAGEMENT>(power);
  UnlockDevice(context);
  if (registered) {
    // One adapter per device: a second registration is a driver fault, not a replacement.
    static_cast<PADAPTERPOWERMANAGEMENT>(power)->Release();
    TRACE_POINT(kTracePcPowerRefused, 3u);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  return STATUS_SUCCESS;
}
