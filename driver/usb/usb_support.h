// Support routines the whole driver uses: its pool allocations and a bounded copy.
#pragma once

#include "kernel_mode.h"

// Every allocation of the driver carries the tag "USBA" (the bytes read in that order in a
// pool dump).
inline constexpr ULONG kDriverPoolTag = 0x41425355;

// Non-executable non-paged pool where the system has it (Windows 8 on), plain non-paged before.
POOL_TYPE DriverPoolType();

// Zero-filled non-paged memory with the driver's tag, or null.
PVOID AllocateDriverPool(SIZE_T bytes);
// Gives back memory from AllocateDriverPool; null is ignored.
VOID FreeDriverPool(PVOID memory);

// Copies n bytes only when the destination holds at least n; otherwise copies nothing and
// returns FALSE, so a short destination never receives a truncated record.
BOOLEAN BoundedCopy(PVOID destination, SIZE_T capacity, const VOID* source, SIZE_T n);
