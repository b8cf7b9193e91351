// SharedBlock: one block of non-paged memory that the kernel and one user process see at once,
// each at an address of its own. The process's mapping lives from allocation to release; it is
// made and taken away in that process (the requester's thread of the private channel).
#pragma once

#include "kernel_mode.h"

struct SharedBlock {
  ULONG Size;         // whole pages
  PVOID Memory;       // the kernel's address
  PMDL Mdl;
  PVOID UserAddress;  // the same pages in the process that allocated the block
};

// Size 0: STATUS_INVALID_PARAMETER. Any block held already is released first. The memory is
// zeroed and mapped into the calling process cached and not executable. A failure undoes what it
// had done and gives STATUS_INSUFFICIENT_RESOURCES.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS AllocateSharedBlock(SharedBlock* block, ULONG bytes);
// Unmaps, frees and zeroes; a block that holds nothing is left as it is.
_IRQL_requires_(PASSIVE_LEVEL) VOID FreeSharedBlock(SharedBlock* block);
