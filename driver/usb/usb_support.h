// Support routines the whole driver uses: its pool allocations and a bounded copy.
#pragma once

#include "driver_pool.h"
#include "kernel_mode.h"

// Copies n bytes only when the destination holds at least n; otherwise copies nothing and
// returns FALSE, so a short destination never receives a truncated record.
BOOLEAN BoundedCopy(PVOID destination, SIZE_T capacity, const VOID* source, SIZE_T n);
