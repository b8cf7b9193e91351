// Pool bookkeeping of one machine: every live block with its tag, per-tag counts, injected
// failures, and the addresses freed since, to tell a double free from a stray pointer.
#pragma once

#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/failure_schedule.h"
#include "kernel/host_kernel.h"

namespace tarnlink::kernel {

class PoolTracker {
 public:
  ~PoolTracker();

  struct Block {
    ULONG tag;
    SIZE_T bytes;
    uint64_t sequence;
    bool paged;
    // Whole pages of non-paged pool lie in pages of their own that can be mapped a second time
    // (into a process), as Windows' pool hands out page-sized blocks.
    bool pageBacked;
  };
  enum class FreeResult { Ok, NeverAllocated, DoubleFree, WrongTag };

  // Returns null when the allocation fails (injected or out of memory).
  void* Allocate(SIZE_T bytes, ULONG tag, bool zero, bool paged);
  FreeResult Free(void* p, ULONG tag, bool checkTag, Block* freed);
  bool Find(const void* p, Block* block) const;
  // The live block that holds all of [p, p + bytes), if there is one, and where it begins.
  bool FindContaining(const void* p, SIZE_T bytes, Block* block,
                      void** blockBase = nullptr) const;

  void FailNth(uint64_t nth, ULONG tag);
  void ClearFailures();

  PoolTagStats Stats(ULONG tag) const;
  PoolTagStats Totals() const;
  std::vector<PoolAllocationInfo> Live() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<void*, Block> live_;
  std::unordered_set<uintptr_t> freed_;  // addresses only: never dereferenced
  std::map<ULONG, PoolTagStats> stats_;
  FailureSchedule failures_;
  uint64_t sequence_ = 0;
};

}  // namespace tarnlink::kernel
