// The run-time checks a driver states in its code. PAGED_CODE marks a routine that may only run
// below DISPATCH_LEVEL (on Windows its code may be paged out); NT_ASSERT states what must hold.
// Either one failing stops the machine with a bug check, as the verifier would.
#pragma once

#include "kernel/ke.h"
#include "kernel/ke_types.h"
#include "kernel/ntdef.h"

[[noreturn]] VOID KiPagedCodeAtRaisedIrql(KIRQL irql);
[[noreturn]] VOID KiAssertionFailed(const char* what, ULONG line);

#define PAGED_CODE()                                                                 \
  do {                                                                               \
    if (KeGetCurrentIrql() > APC_LEVEL) KiPagedCodeAtRaisedIrql(KeGetCurrentIrql()); \
  } while (0)

#define NT_ASSERT(expression) \
  ((expression) ? (void)0 : KiAssertionFailed("assertion failed: " #expression, __LINE__))
