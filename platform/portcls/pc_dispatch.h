// The parts of PcDispatchIrp, and the ways a request leaves the framework.
#pragma once

#include "portcls/pc_device_context.h"

namespace tarnlink::portcls {

NTSTATUS DispatchPnp(DeviceContext* context, PIRP Irp);
NTSTATUS DispatchPower(DeviceContext* context, PIRP Irp);

// Completes the request here with Status.
NTSTATUS CompleteIrp(PIRP Irp, NTSTATUS Status);
// Hands the request, as it is, to the device below.
NTSTATUS PassDown(DeviceContext* context, PIRP Irp);
// Sends the request to the device below, waits for it there and returns its status; the
// request stays with the caller, who completes it.
NTSTATUS ForwardAndWait(DeviceContext* context, PIRP Irp);

}  // namespace tarnlink::portcls
