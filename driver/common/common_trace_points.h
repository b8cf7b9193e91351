// Trace point numbers of what the whole driver shares (in the 0x4100 block of the USB function
// layer, which used them first). Arguments are listed beside each.
#pragma once

#include "kernel_mode.h"

inline constexpr ULONG kTracePoolAllocationFailed = 0x4101;  // bytes
