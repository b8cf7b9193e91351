// Work items run on system worker threads at PASSIVE_LEVEL. A worker is started whenever an
// item is queued and every worker is busy, so an item that blocks never starves the next one.
#include "kernel/io_workitem.h"
#include "kernel/bugcheck.h"
#include "kernel/ex_pool.h"
#include "kernel/ke.h"
#include "kernel/machine.h"
#include "kernel/ob_host.h"

struct _IO_WORKITEM {
  LIST_ENTRY link;
  ULONG magic;
  BOOLEAN queued;
  BOOLEAN deviceReferenced;
  PDEVICE_OBJECT device;
  PIO_WORKITEM_ROUTINE routine;
  PVOID context;
};

namespace tarnlink::kernel {

namespace {
constexpr ULONG kWorkItemMagic = 0x6B576F49;  // "IoWk"
constexpr ULONG kWorkItemTag = 0x6B576F49;
constexpr size_t kMaximumWorkers = 16;

void CheckWorkItem(PIO_WORKITEM item, const char* what) {
  PoolTracker::Block block{};
  if (item == nullptr || !Machine::Current().pool().Find(item, &block) ||
      block.bytes < sizeof(IO_WORKITEM) || item->magic != kWorkItemMagic)
    Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, what, 0x1900, reinterpret_cast<ULONG_PTR>(item));
}
}  // namespace

void Machine::QueueWorkItem(Lock& lock, _IO_WORKITEM* item) {
  InsertTailList(&workQueue_, &item->link);
  if (!idleWorkers_.empty()) {
    PKTHREAD worker = idleWorkers_.front();
    idleWorkers_.erase(idleWorkers_.begin());
    ReadyThread(worker);
    return;
  }
  if (workers_.size() >= kMaximumWorkers) return;
  PKTHREAD worker =
      CreateThread(lock, ThreadRole::Worker, "system worker", 12, nullptr, OB_FLAG_MACHINE_OWNED);
  if (worker == nullptr) return;
  workers_.push_back(worker);
  ReadyThread(worker);
}

void Machine::WorkerMain(Lock& lock, PKTHREAD self) {
  for (;;) {
    if (dying_) return;
    while (!IsListEmpty(&workQueue_)) {
      PIO_WORKITEM item = CONTAINING_RECORD(RemoveHeadList(&workQueue_), IO_WORKITEM, link);
      // The routine may free or requeue its own item: take what it needs first.
      item->queued = FALSE;
      const PIO_WORKITEM_ROUTINE routine = item->routine;
      PDEVICE_OBJECT device = item->device;
      PVOID context = item->context;
      const bool referenced = item->deviceReferenced != FALSE;
      lock.unlock();
      routine(device, context);
      if (self->irql != PASSIVE_LEVEL || self->heldCount != 0)
        Verify(WORKER_THREAD_RETURNED_AT_BAD_IRQL, "work item returned above PASSIVE_LEVEL",
               reinterpret_cast<ULONG_PTR>(routine), self->irql,
               reinterpret_cast<ULONG_PTR>(context));
      if (!IsListEmpty(&self->mutantList))
        Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "work item returned holding a mutex", 0x1901,
               reinterpret_cast<ULONG_PTR>(routine));
      if (referenced) ObDereferenceObject(device);
      lock.lock();
    }
    self->state = ThreadState::Idle;
    idleWorkers_.push_back(self);
    SwitchAway(lock, self);
  }
}

}  // namespace tarnlink::kernel

using tarnlink::kernel::Lock;
using tarnlink::kernel::Machine;

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject) {
  auto* item = static_cast<PIO_WORKITEM>(
      ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(IO_WORKITEM), tarnlink::kernel::kWorkItemTag));
  if (item == nullptr) return nullptr;
  item->magic = tarnlink::kernel::kWorkItemMagic;
  item->device = DeviceObject;
  return item;
}

VOID IoFreeWorkItem(PIO_WORKITEM IoWorkItem) {
  tarnlink::kernel::CheckWorkItem(IoWorkItem,
                                  "IoFreeWorkItem on something that is not a work item");
  if (IoWorkItem->queued)
    tarnlink::kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "work item freed while queued",
                             0x1902, reinterpret_cast<ULONG_PTR>(IoWorkItem));
  IoWorkItem->magic = 0;
  ExFreePoolWithTag(IoWorkItem, tarnlink::kernel::kWorkItemTag);
}

VOID IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine,
                     WORK_QUEUE_TYPE QueueType, PVOID Context) {
  UNREFERENCED_PARAMETER(QueueType);
  tarnlink::kernel::CheckWorkItem(IoWorkItem,
                                  "IoQueueWorkItem on something that is not a work item");
  if (WorkerRoutine == nullptr || KeGetCurrentIrql() > DISPATCH_LEVEL)
    tarnlink::kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
                             "work item queued without a routine or above DISPATCH_LEVEL", 0x1903,
                             reinterpret_cast<ULONG_PTR>(IoWorkItem));
  if (IoWorkItem->queued)
    tarnlink::kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION, "work item queued twice", 0x1904,
                             reinterpret_cast<ULONG_PTR>(IoWorkItem));
  // The device object stays alive while its work item waits, as the I/O manager guarantees.
  IoWorkItem->deviceReferenced = FALSE;
  if (IoWorkItem->device != nullptr && ObHostIsObject(IoWorkItem->device)) {
    ObReferenceObject(IoWorkItem->device);
    IoWorkItem->deviceReferenced = TRUE;
  }
  IoWorkItem->routine = WorkerRoutine;
  IoWorkItem->context = Context;
  IoWorkItem->queued = TRUE;
  Machine& machine = Machine::Current();
  Lock lock(machine.dispatcherLock());
  machine.QueueWorkItem(lock, IoWorkItem);
}

ULONG IoSizeofWorkItem() {
  return sizeof(IO_WORKITEM);
}
