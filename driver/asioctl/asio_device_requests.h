// The private requests that any \asio handle may make whatever its state: queries of the
// device, the rate, the overrides and the injected faults. Each reads its input from and writes
// its output to the request's system buffer, whose lengths the request table has checked.
#pragma once

#include "asio_device.h"
#include "asio_handle.h"
#include "kernel_mode.h"

// STATUS_INVALID_DEVICE_REQUEST for a code that is not one of these.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ServeDeviceRequest(IAsioDevice& device, AsioRequest* request);
