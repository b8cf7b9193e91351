// The kernel-mode umbrella: everything a kernel driver includes from the system.
// On Windows this would include <ntddk.h>, <portcls.h>, <ks.h>, <usb.h>, <usbdlib.h> and friends.
#pragma once

#include "kernel/bugcheck.h"
#include "kernel/device_object.h"
#include "kernel/ex_pool.h"
#include "kernel/interlocked.h"
#include "kernel/io_file_api.h"
#include "kernel/io_workitem.h"
#include "kernel/ke.h"
#include "kernel/ke_types.h"
#include "kernel/ntdef.h"
#include "kernel/ntstatus.h"
#include "kernel/ob.h"
#include "kernel/pnp_device_interface.h"
#include "kernel/ps.h"
#include "kernel/registry_zw.h"
#include "kernel/rtl_list.h"
#include "kernel/rtl_memory.h"
#include "kernel/rtl_string.h"
#include "kernel/trace.h"
#include "kernel/version.h"
#include "portcls/portcls.h"
