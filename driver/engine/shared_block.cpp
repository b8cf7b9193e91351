#include "shared_block.h"

#include "driver_pool.h"
#include "driver_settings.h"
#include "engine_trace_points.h"

NTSTATUS AllocateSharedBlock(SharedBlock* block, ULONG bytes) {
  if (bytes == 0) return STATUS_INVALID_PARAMETER;
  FreeSharedBlock(block);
  const ULONGLONG rounded = ROUND_TO_PAGES(static_cast<ULONGLONG>(bytes));
  if (rounded > 0xFFFFFFFFull) return STATUS_INVALID_PARAMETER;
  block->Size = static_cast<ULONG>(rounded);
  block->Memory = AllocateDriverPool(block->Size);
  if (block->Memory != nullptr) {
    block->Mdl = IoAllocateMdl(block->Memory, block->Size, FALSE, FALSE, nullptr);
  }
  if (block->Mdl != nullptr) {
    MmBuildMdlForNonPagedPool(block->Mdl);
    // The process reads and writes the block as data only; high priority because a stream
    // cannot start without it.
    const ULONG priority = HighPagePriority | (g_DriverSettings.MappingPriority & MdlMappingNoExecute);
    block->UserAddress =
        MmMapLockedPagesSpecifyCache(block->Mdl, UserMode, MmCached, nullptr, FALSE, priority);
  }
  if (block->UserAddress == nullptr) {
    TRACE_POINT(kTraceSharedBlockFailed, bytes);
    FreeSharedBlock(block);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  return STATUS_SUCCESS;
}

VOID FreeSharedBlock(SharedBlock* block) {
  if (block->UserAddress != nullptr && block->Mdl != nullptr) {
    MmUnmapLockedPages(block->UserAddress, block->Mdl);
  }
  block->UserAddress = nullptr;
  if (block->Mdl != nullptr) IoFreeMdl(block->Mdl);
  block->Mdl = nullptr;
  FreeDriverPool(block->Memory);
  block->Memory = nullptr;
  block->Size = 0;
}
