// Requests the I/O manager itself builds and finishes: device controls from
// IoBuildDeviceIoControlRequest and from user mode, and the create, clean-up and close requests
// of file objects. Host side; product code never includes this header.
#pragma once

#include "kernel/irp.h"

namespace tarnlink::io {

// What the I/O manager keeps beside an IRP it owns, in the same allocation.
struct OwnedIrp {
  ULONG outputLength = 0;             // bytes the METHOD_BUFFERED copy-back may write to UserBuffer
  PKEVENT referencedEvent = nullptr;  // an event taken by handle: dereferenced at the end
  PFILE_OBJECT fileObject = nullptr;  // referenced; the IRP is on its IrpList while it lives
};

// An IRP with StackSize stack locations, owned by the I/O manager; null when pool runs out.
PIRP AllocateOwnedIrp(CCHAR StackSize);
// The record of an owned IRP, or null for an IRP a driver allocated.
OwnedIrp* OwnedRecord(PIRP Irp);
// Called by IoCompleteRequest once no completion routine has kept the IRP: copies METHOD_BUFFERED
// output back, frees the system buffer, writes the caller's status block, sets its event,
// releases the file object and frees the IRP.
VOID FinishOwnedIrp(PIRP Irp);
// Sends an owned request to the top of the file's device stack and, when the driver pends it,
// waits for it; returns the final status. Used for create, clean-up and close; Parameters
// (may be null) supplies the stack location's parameters.
NTSTATUS SendSynchronousFileRequest(PFILE_OBJECT FileObject, UCHAR MajorFunction,
                                    const IO_STACK_LOCATION* Parameters, PIO_STATUS_BLOCK IoStatus);
// Fills the next stack location of an owned IRP for a device control and sets up its buffers
// by the code's transfer method: METHOD_BUFFERED gets a system buffer of max(in, out) bytes
// holding the input; METHOD_NEITHER passes both buffers as they are. The direct methods need
// memory descriptor lists, which this I/O manager does not build: STATUS_NOT_SUPPORTED.
NTSTATUS PrepareDeviceControl(PIRP Irp, ULONG IoControlCode, BOOLEAN Internal, PVOID InputBuffer,
                              ULONG InputBufferLength, PVOID OutputBuffer,
                              ULONG OutputBufferLength);

// IoCancelIrp for a caller that already holds the cancel spin lock (taken at irql); the lock is
// released on return. Holding it keeps an owned IRP from finishing, so a caller may pick an IRP
// off a file's list and cancel it without the IRP going away in between.
BOOLEAN CancelIrpWithLockHeld(PIRP Irp, KIRQL irql);

// Pool tags of the I/O manager's own allocations, as they read in a pool dump.
inline constexpr ULONG kIrpTag = 0x20707249;           // "Irp "
inline constexpr ULONG kSystemBufferTag = 0x66427349;  // "IsBf"
inline constexpr ULONG kIoNameTag = 0x6D4E6F49;        // "IoNm"
inline constexpr ULONG kCompletionTag = 0x52436F49;    // "IoCR"

}  // namespace tarnlink::io
