// The driver's pool: every allocation is non-paged and carries the driver's tag.
#pragma once

#include "kernel_mode.h"

// Every allocation of the driver carries the tag "USBA" (the bytes read in that order in a
// pool dump).
inline constexpr ULONG kDriverPoolTag = 0x41425355;

// Non-executable non-paged pool where the system has it (Windows 8 on), plain non-paged before.
POOL_TYPE DriverPoolType();

// Zero-filled non-paged memory with the driver's tag, or null.
_IRQL_requires_max_(DISPATCH_LEVEL) _Ret_maybenull_ PVOID AllocateDriverPool(SIZE_T bytes);
// Gives back memory from AllocateDriverPool; null is ignored.
_IRQL_requires_max_(DISPATCH_LEVEL) VOID FreeDriverPool(_In_opt_ PVOID memory);
