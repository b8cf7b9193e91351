// Support routines the whole driver uses: its pool allocations and a bounded copy.
#pragma once

#include "driver_pool.h"
#include "kernel_mode.h"

// Copies n bytes only when the destination holds at least n; otherwise copies nothing and
// returns FALSE, so a short destination never receives a truncated record.
_Must_inspect_result_ BOOLEAN BoundedCopy(_Out_writes_bytes_(capacity) PVOID destination,
                                          SIZE_T capacity, _In_reads_bytes_(n) const VOID* source,
                                          SIZE_T n);
