// The five dispatch entries the driver takes over from the framework: requests of the private
// \asio channel are the driver's, every other request goes to the framework unchanged.
#pragma once

#include "kernel_mode.h"

DRIVER_DISPATCH DispatchCreate;
DRIVER_DISPATCH DispatchClose;
DRIVER_DISPATCH DispatchCleanup;
DRIVER_DISPATCH DispatchDeviceControl;
// Removal notices are acted on first; every Plug and Play request then goes to the framework.
DRIVER_DISPATCH DispatchPnp;
