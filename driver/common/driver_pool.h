// The driver's pool: every allocation is non-paged and carries the driver's tag.
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
