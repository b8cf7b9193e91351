// How the I/O manager stops the machine when a driver misuses a request. The codes are Windows'
// bug checks; the first parameter of DRIVER_VERIFIER_IOMANAGER_VIOLATION says what was wrong.
#pragma once

#include "kernel/bugcheck.h"
#include "kernel/io_types.h"

#ifndef NO_MORE_IRP_STACK_LOCATIONS
#define NO_MORE_IRP_STACK_LOCATIONS 0x00000035UL
#endif
#ifndef MULTIPLE_IRP_COMPLETE_REQUESTS
#define MULTIPLE_IRP_COMPLETE_REQUESTS 0x00000044UL
#endif
#ifndef CANCEL_STATE_IN_COMPLETED_IRP
#define CANCEL_STATE_IN_COMPLETED_IRP 0x00000048UL
#endif
#ifndef DRIVER_VERIFIER_IOMANAGER_VIOLATION
#define DRIVER_VERIFIER_IOMANAGER_VIOLATION 0x000000C9UL
#endif

enum IrpViolationCode : ULONG_PTR {
  kIrpNotAnIrp = 0x01,
  kIrpFreedTwice = 0x02,
  kIrpFreedByDriver = 0x03,                  // IoFreeIrp on a request the I/O manager owns
  kIrpCompletedPending = 0x04,               // IoCompleteRequest with STATUS_PENDING
  kIrpDriverIrpCompletedToIoManager = 0x05,  // a driver's IRP completed past its last routine
  kIrpInformationTooLarge = 0x06,            // buffered output longer than the caller's buffer
};

namespace tarnlink::io {
[[noreturn]] inline VOID IrpViolation(IrpViolationCode code, PIRP irp) {
  KeBugCheckEx(DRIVER_VERIFIER_IOMANAGER_VIOLATION, code, reinterpret_cast<ULONG_PTR>(irp), 0, 0);
}
}  // namespace tarnlink::io
