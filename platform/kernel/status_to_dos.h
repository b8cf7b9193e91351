// RtlNtStatusToDosError: the kernel status each Win32 call reports as its last error.
#pragma once

#include "kernel/ntstatus.h"
#include "kernel/status_to_dos_codes.h"

// Windows' own mapping for every status this system produces; a status without an entry maps to
// ERROR_MR_MID_NOT_FOUND, as on Windows.
ULONG RtlNtStatusToDosError(NTSTATUS Status);
