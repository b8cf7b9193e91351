#include "kernel/irp.h"

#include <cstring>

#include "kernel/bugcheck.h"
#include "kernel/device_object.h"
#include "kernel/ex_pool.h"
#include "kernel/irp_owned.h"
#include "kernel/irp_verifier.h"

using tarnlink::io::kIrpTag;

USHORT IoSizeOfIrp(CCHAR StackSize) {
  return static_cast<USHORT>(sizeof(IRP) + StackSize * sizeof(IO_STACK_LOCATION));
}

VOID IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize) {
  std::memset(Irp, 0, PacketSize);
  Irp->Type = IO_TYPE_IRP;
  Irp->Size = PacketSize;
  Irp->StackCount = StackSize;
  Irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
  InitializeListHead(&Irp->ThreadListEntry);
  Irp->Tail.Overlay.CurrentStackLocation =
      reinterpret_cast<PIO_STACK_LOCATION>(reinterpret_cast<PUCHAR>(Irp) + sizeof(IRP)) + StackSize;
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota) {
  UNREFERENCED_PARAMETER(ChargeQuota);
  if (StackSize < 1) return nullptr;
  USHORT size = IoSizeOfIrp(StackSize);
  auto irp = static_cast<PIRP>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kIrpTag));
  if (irp == nullptr) return nullptr;
  IoInitializeIrp(irp, size, StackSize);
  return irp;
}

VOID IoReuseIrp(PIRP Irp, NTSTATUS Iostatus) {
  UCHAR allocation_flags = Irp->AllocationFlags;
  IoInitializeIrp(Irp, Irp->Size, Irp->StackCount);
  Irp->AllocationFlags = allocation_flags;
  Irp->IoStatus.Status = Iostatus;
}

VOID IoFreeIrp(PIRP Irp) {
  if (Irp->Type != IO_TYPE_IRP) tarnlink::io::IrpViolation(kIrpFreedTwice, Irp);
  if (tarnlink::io::OwnedRecord(Irp) != nullptr) tarnlink::io::IrpViolation(kIrpFreedByDriver, Irp);
  Irp->Type = 0;
  ExFreePoolWithTag(Irp, kIrpTag);
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  if (Irp->Type != IO_TYPE_IRP) tarnlink::io::IrpViolation(kIrpNotAnIrp, Irp);
  Irp->CurrentLocation--;
  if (Irp->CurrentLocation <= 0)
    KeBugCheckEx(NO_MORE_IRP_STACK_LOCATIONS, reinterpret_cast<ULONG_PTR>(Irp), 0, 0, 0);
  PIO_STACK_LOCATION stack = --Irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = DeviceObject;
  PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
  return dispatch(DeviceObject, Irp);
}

namespace {

bool ShouldInvoke(const IO_STACK_LOCATION& stack, const IRP& irp) {
  NTSTATUS status = irp.IoStatus.Status;
  return (NT_SUCCESS(status) && (stack.Control & SL_INVOKE_ON_SUCCESS)) ||
         (!NT_SUCCESS(status) && (stack.Control & SL_INVOKE_ON_ERROR)) ||
         (irp.Cancel && (stack.Control & SL_INVOKE_ON_CANCEL));
}

}  // namespace

VOID IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
  UNREFERENCED_PARAMETER(PriorityBoost);
  // A completion must come from a driver that holds a stack location; past the last one the
  // request was completed already (or never sent).
  if (Irp->Type != IO_TYPE_IRP || Irp->CurrentLocation > Irp->StackCount)
    KeBugCheckEx(MULTIPLE_IRP_COMPLETE_REQUESTS, reinterpret_cast<ULONG_PTR>(Irp), 0, 0, 0);
  if (Irp->IoStatus.Status == STATUS_PENDING) tarnlink::io::IrpViolation(kIrpCompletedPending, Irp);
  if (Irp->CancelRoutine != nullptr)
    KeBugCheckEx(CANCEL_STATE_IN_COMPLETED_IRP, reinterpret_cast<ULONG_PTR>(Irp),
                 reinterpret_cast<ULONG_PTR>(Irp->CancelRoutine), 0, 0);

  // Walk up the stack from the completing driver's location: each location's routine belongs
  // to the driver above it, and runs with that driver's device object (none for the originator).
  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    IoSkipCurrentIrpStackLocation(Irp);
    Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    PVOID context = stack->Context;
    bool invoke = routine != nullptr && ShouldInvoke(*stack, *Irp);
    std::memset(stack, 0, sizeof(*stack));
    if (invoke) {
      PDEVICE_OBJECT device = Irp->CurrentLocation == Irp->StackCount + 1
                                  ? nullptr
                                  : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
      // The routine may free or reuse the IRP when it stops completion; touch nothing after.
      if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
      IoMarkIrpPending(Irp);
    }
  }

  if (tarnlink::io::OwnedRecord(Irp) == nullptr) {
    // A driver's own IRP has no one above to finish it: its completion routine must stop
    // completion and free or reuse it.
    tarnlink::io::IrpViolation(kIrpDriverIrpCompletedToIoManager, Irp);
  }
  tarnlink::io::FinishOwnedIrp(Irp);
}

namespace {

struct CompletionExContext {
  PDEVICE_OBJECT device;
  PIO_COMPLETION_ROUTINE routine;
  PVOID context;
  UCHAR control;  // the SL_INVOKE_ON_* flags the caller asked for
};

// Set to run on every outcome so that its context is always released; it calls the driver's
// routine only for the outcomes the driver asked for.
NTSTATUS CompletionExTrampoline(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
  auto* ex = static_cast<CompletionExContext*>(Context);
  CompletionExContext copy = *ex;
  ExFreePoolWithTag(ex, tarnlink::io::kCompletionTag);
  IO_STACK_LOCATION flags = {};
  flags.Control = copy.control;
  NTSTATUS status = STATUS_SUCCESS;
  if (ShouldInvoke(flags, *Irp)) {
    status = copy.routine(DeviceObject, Irp, copy.context);
  } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
    IoMarkIrpPending(Irp);
  }
  ObDereferenceObject(copy.device);
  return status;
}

}  // namespace

NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                  PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context,
                                  BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                                  BOOLEAN InvokeOnCancel) {
  auto* ex = static_cast<CompletionExContext*>(ExAllocatePoolWithTag(
      NonPagedPoolNx, sizeof(CompletionExContext), tarnlink::io::kCompletionTag));
  if (ex == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ObReferenceObject(DeviceObject);
  IoSetCompletionRoutine(Irp, CompletionRoutine, Context, InvokeOnSuccess, InvokeOnError,
                         InvokeOnCancel);
  *ex = CompletionExContext{DeviceObject, CompletionRoutine, Context,
                            IoGetNextIrpStackLocation(Irp)->Control};
  IoSetCompletionRoutine(Irp, CompletionExTrampoline, ex, TRUE, TRUE, TRUE);
  return STATUS_SUCCESS;
}
