// How the memory manager stops the machine when a driver misuses an MDL. Where Windows' verifier
// has a code for the fault, DRIVER_VERIFIER_DETECTED_VIOLATION carries it as the first
// parameter, with Windows' other parameters. Faults that Windows only trips over later (a
// mapping leaked with its MDL, an unmap that tears down someone else's pages) get codes of the
// host's own, from 0x1A00, and are caught at the call that makes them.
#pragma once

#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"
#include "kernel/mm_mdl.h"

#ifndef TARGET_MDL_TOO_SMALL
#define TARGET_MDL_TOO_SMALL 0x00000040UL
#endif

enum MdlViolationCode : ULONG_PTR {
  kMdlProbeAboveDispatch = 0x70,      // irql, MDL, access mode
  kMdlKernelMapAboveDispatch = 0x76,  // irql, MDL, access mode
  kMdlUserMapAboveApc = 0x77,         // irql, MDL, access mode
  kMdlUnlockAboveDispatch = 0x78,     // irql, MDL
  kMdlUnmapAboveDispatch = 0x79,      // irql, address, MDL
  kMdlUnlockNotLocked = 0x7C,         // MDL, flags
  kMdlUnlockNonPagedPool = 0x7D,      // MDL, flags
  kMdlMapBugCheckOnFailure = 0x82,    // MDL, flags
  kMdlMapNotLocked = 0x85,            // MDL, pages, first page frame
  kMdlEmpty = 0x1A00,                 // MDL or address, length
  kMdlSpanWraps = 0x1A01,             // MDL or address, length
  kMdlFreedLocked = 0x1A02,           // MDL, flags
  kMdlFreedMapped = 0x1A03,           // MDL, flags
  kMdlUnmapNotMapped = 0x1A04,        // MDL, address
  kMdlDescribedTwice = 0x1A05,        // MDL, flags
  kMdlNotNonPagedPool = 0x1A06,       // MDL, address
  kMdlMappedTwice = 0x1A07,           // MDL, flags
  kMdlPartialOutsideSource = 0x1A08,  // source MDL, address, length
  kMdlUserMapNotPages = 0x1A09,       // MDL, address: not whole pages of non-paged pool
  kMdlUserMappingLeft = 0x1A0A,       // MDL, user address, process: the process ended first
  kMdlFreedUserMapped = 0x1A0B,       // MDL, flags
};

namespace tarnlink::mm {

[[noreturn]] inline void MdlViolation(MdlViolationCode code, const char* reason, const void* what,
                                      ULONG_PTR p3 = 0, ULONG_PTR p4 = 0) {
  kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, reason, code,
                 reinterpret_cast<ULONG_PTR>(what), p3, p4);
}

inline void CheckIrql(KIRQL highest, MdlViolationCode code, const char* reason, ULONG_PTR p3,
                      ULONG_PTR p4) {
  const KIRQL irql = KeGetCurrentIrql();
  if (irql > highest)
    kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, reason, code, irql, p3, p4);
}

// A buffer an MDL can describe: at least one byte, and not running past the end of the
// address space.
inline void CheckDescribedRange(const void* what, const void* va, SIZE_T length) {
  if (length == 0) MdlViolation(kMdlEmpty, "MDL for zero bytes", what, 0);
  if (reinterpret_cast<ULONG_PTR>(va) + (length - 1) < reinterpret_cast<ULONG_PTR>(va))
    MdlViolation(kMdlSpanWraps, "MDL span runs past the end of the address space", what, length);
}

}  // namespace tarnlink::mm
