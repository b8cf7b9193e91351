// Pool allocation and release, with the checks Windows' pool and verifier make.
#include "kernel/ex_pool.h"
#include "kernel/bugcheck.h"
#include "kernel/ke.h"
#include "kernel/machine.h"

using tarnlink::kernel::Machine;
using tarnlink::kernel::PoolTracker;
using tarnlink::kernel::Verify;

namespace {

constexpr POOL_FLAGS kKnownFlags = POOL_FLAG_USE_QUOTA | POOL_FLAG_UNINITIALIZED |
                                   POOL_FLAG_SESSION | POOL_FLAG_CACHE_ALIGNED |
                                   POOL_FLAG_RAISE_ON_FAILURE | POOL_FLAG_NON_PAGED |
                                   POOL_FLAG_NON_PAGED_EXECUTE | POOL_FLAG_PAGED;

void CheckAllocationIrql(bool paged) {
  const KIRQL irql = KeGetCurrentIrql();
  if (irql > DISPATCH_LEVEL || (paged && irql > APC_LEVEL))
    Verify(BAD_POOL_CALLER, "pool allocated at too high an IRQL", 0x08, irql, paged ? 1 : 0);
}

bool IsPagedType(POOL_TYPE type) {
  return (static_cast<int>(type) & 1) != 0;
}

PVOID Allocate(SIZE_T bytes, ULONG tag, bool zero, bool paged) {
  return Machine::Current().pool().Allocate(bytes, tag, zero, paged);
}

void Free(PVOID P, ULONG Tag, bool checkTag) {
  if (P == nullptr) Verify(BAD_POOL_CALLER, "free of a null pointer", 0x46, 0);
  if (KeGetCurrentIrql() > DISPATCH_LEVEL)
    Verify(BAD_POOL_CALLER, "pool freed above DISPATCH_LEVEL", 0x09, KeGetCurrentIrql());
  Machine& machine = Machine::Current();
  PoolTracker::Block block{};
  // A block that still holds a queued timer or DPC would corrupt the kernel's lists later.
  if (machine.pool().Find(P, &block)) {
    bool active;
    {
      tarnlink::kernel::Lock lock(machine.dispatcherLock());
      active = machine.HoldsActiveTimerOrDpc(P, block.bytes);
    }
    if (active)
      Verify(0xC7 /* TIMER_OR_DPC_INVALID */, "pool freed while it holds an active timer or DPC", 0,
             reinterpret_cast<ULONG_PTR>(P), block.bytes);
  }
  switch (machine.pool().Free(P, Tag, checkTag, &block)) {
    case PoolTracker::FreeResult::Ok:
      return;
    case PoolTracker::FreeResult::DoubleFree:
      Verify(BAD_POOL_CALLER, "pool freed twice", 0x07, 0, reinterpret_cast<ULONG_PTR>(P));
    case PoolTracker::FreeResult::NeverAllocated:
      Verify(BAD_POOL_CALLER, "free of a pointer the pool never gave", 0x46,
             reinterpret_cast<ULONG_PTR>(P));
    case PoolTracker::FreeResult::WrongTag:
      Verify(BAD_POOL_CALLER, "pool freed with a tag other than the one it was allocated with",
             0x0A, reinterpret_cast<ULONG_PTR>(P), Tag, block.tag);
  }
}

}  // namespace

PVOID ExAllocatePool2(POOL_FLAGS Flags, SIZE_T NumberOfBytes, ULONG Tag) {
  const POOL_FLAGS kind =
      Flags & (POOL_FLAG_NON_PAGED | POOL_FLAG_NON_PAGED_EXECUTE | POOL_FLAG_PAGED);
  if ((Flags & ~kKnownFlags) != 0 ||
      (kind != POOL_FLAG_NON_PAGED && kind != POOL_FLAG_NON_PAGED_EXECUTE &&
       kind != POOL_FLAG_PAGED))
    Verify(BAD_POOL_CALLER, "ExAllocatePool2 with invalid pool flags", 0x9B,
           static_cast<ULONG_PTR>(Flags), NumberOfBytes, Tag);
  if (Tag == 0)
    Verify(BAD_POOL_CALLER, "ExAllocatePool2 with a zero pool tag", 0x9B, 0, NumberOfBytes, Tag);
  const bool paged = kind == POOL_FLAG_PAGED;
  CheckAllocationIrql(paged);
  return Allocate(NumberOfBytes, Tag, (Flags & POOL_FLAG_UNINITIALIZED) == 0, paged);
}

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  CheckAllocationIrql(IsPagedType(PoolType));
  return Allocate(NumberOfBytes, Tag, false, IsPagedType(PoolType));
}

PVOID ExAllocatePoolZero(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
  CheckAllocationIrql(IsPagedType(PoolType));
  return Allocate(NumberOfBytes, Tag, true, IsPagedType(PoolType));
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag) {
  Free(P, Tag, true);
}

VOID ExFreePool(PVOID P) {
  Free(P, 0, false);
}
