// Content-protection forwarding records of the kernel DRM interface.
#pragma once

#include "kernel/device_object.h"

typedef struct tagDRMFORWARD {
  DWORD Flags;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PVOID Context;
} DRMFORWARD, *PDRMFORWARD;
typedef const DRMFORWARD* PCDRMFORWARD;
