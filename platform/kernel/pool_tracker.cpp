// Pool bookkeeping.
#include "kernel/pool_tracker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace tarnlink::kernel {

namespace {
constexpr unsigned char kUninitialisedFill = 0xAB;
constexpr unsigned char kFreedFill = 0xDD;
constexpr SIZE_T kPageBytes = 4096;

bool PageBacked(SIZE_T bytes, bool paged) {
  return !paged && bytes != 0 && bytes % kPageBytes == 0;
}

// Page-backed blocks are shared anonymous memory, so that the same pages can be mapped again
// at another address (mremap of size 0). An inaccessible page on either side makes a copy that
// runs off the block fault at once, which the sanitizers cannot see in memory of this kind.
void* AllocatePages(SIZE_T bytes) {
  void* p = mmap(nullptr, bytes + 2 * kPageBytes, PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto* block = static_cast<unsigned char*>(p) + kPageBytes;
  if (mprotect(p, kPageBytes, PROT_NONE) != 0 ||
      mprotect(block + bytes, kPageBytes, PROT_NONE) != 0) {
    munmap(p, bytes + 2 * kPageBytes);
    return nullptr;
  }
  return block;
}

void Release(void* p, const PoolTracker::Block& block) {
  if (block.pageBacked)
    munmap(static_cast<unsigned char*>(p) - kPageBytes, block.bytes + 2 * kPageBytes);
  else
    std::free(p);
}

}  // namespace

PoolTracker::~PoolTracker() {
  for (auto& [p, block] : live_) Release(p, block);
}

void* PoolTracker::Allocate(SIZE_T bytes, ULONG tag, bool zero, bool paged) {
  std::lock_guard<std::mutex> guard(mutex_);
  PoolTagStats& stats = stats_[tag];
  void* p = nullptr;
  // Blocks are at least 16-byte aligned, as Windows' pool gives them.
  const bool pageBacked = PageBacked(bytes, paged);
  if (!failures_.ShouldFail(tag) && bytes < (SIZE_T{1} << 40))
    p = pageBacked ? AllocatePages(bytes) : std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) {
    ++stats.failedCount;
    return nullptr;
  }
  std::memset(p, zero ? 0 : kUninitialisedFill, bytes);
  live_[p] = Block{tag, bytes, ++sequence_, paged, pageBacked};
  freed_.erase(reinterpret_cast<uintptr_t>(p));
  ++stats.liveCount;
  stats.liveBytes += bytes;
  ++stats.totalCount;
  stats.totalBytes += bytes;
  return p;
}

PoolTracker::FreeResult PoolTracker::Free(void* p, ULONG tag, bool checkTag, Block* freed) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = live_.find(p);
  if (it == live_.end())
    return freed_.count(reinterpret_cast<uintptr_t>(p)) ? FreeResult::DoubleFree
                                                        : FreeResult::NeverAllocated;
  *freed = it->second;
  if (checkTag && it->second.tag != tag) return FreeResult::WrongTag;
  PoolTagStats& stats = stats_[it->second.tag];
  --stats.liveCount;
  stats.liveBytes -= it->second.bytes;
  std::memset(p, kFreedFill, it->second.bytes);
  live_.erase(it);
  freed_.insert(reinterpret_cast<uintptr_t>(p));
  Release(p, *freed);
  return FreeResult::Ok;
}

bool PoolTracker::Find(const void* p, Block* block) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = live_.find(const_cast<void*>(p));
  if (it == live_.end()) return false;
  *block = it->second;
  return true;
}

bool PoolTracker::FindContaining(const void* p, SIZE_T bytes, Block* block,
                                 void** blockBase) const {
  const auto first = reinterpret_cast<uintptr_t>(p);
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& [base, candidate] : live_) {
    const auto start = reinterpret_cast<uintptr_t>(base);
    if (first >= start && first - start <= candidate.bytes &&
        bytes <= candidate.bytes - (first - start)) {
      *block = candidate;
      if (blockBase != nullptr) *blockBase = base;
      return true;
    }
  }
  return false;
}

void PoolTracker::FailNth(uint64_t nth, ULONG tag) {
  failures_.FailNth(nth, tag);
}

void PoolTracker::ClearFailures() {
  failures_.Clear();
}

PoolTagStats PoolTracker::Stats(ULONG tag) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = stats_.find(tag);
  return it == stats_.end() ? PoolTagStats{} : it->second;
}

PoolTagStats PoolTracker::Totals() const {
  std::lock_guard<std::mutex> guard(mutex_);
  PoolTagStats total;
  for (const auto& [tag, stats] : stats_) {
    total.liveCount += stats.liveCount;
    total.liveBytes += stats.liveBytes;
    total.totalCount += stats.totalCount;
    total.totalBytes += stats.totalBytes;
    total.failedCount += stats.failedCount;
  }
  return total;
}

std::vector<PoolAllocationInfo> PoolTracker::Live() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<PoolAllocationInfo> all;
  for (const auto& [p, block] : live_) all.push_back({block.tag, block.bytes, block.sequence, p});
  std::sort(all.begin(), all.end(), [](const PoolAllocationInfo& a, const PoolAllocationInfo& b) {
    return a.sequence < b.sequence;
  });
  return all;
}

}  // namespace tarnlink::kernel
