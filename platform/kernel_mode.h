// The kernel-mode umbrella: everything a kernel driver includes from the system.
// On Windows this would include <ntddk.h>, <portcls.h>, <ks.h>, <usb.h>, <usbdlib.h> and friends.
#pragma once

#include "kernel/ntdef.h"
#include "kernel/ntstatus.h"
