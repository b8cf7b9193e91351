// Handle tables. A handle is (slot + 1) * 4, with the kernel tag bit for the kernel's table,
// so that 0 is never a valid handle and a freed slot can be reused.
#include "kernel/ob_handle_table.h"

namespace tarnlink::kernel {

namespace {
constexpr ULONG_PTR kKernelHandleBits = 0xFFFFFFFF80000000ull;
}

bool HandleTable::IsKernelHandle(HANDLE handle) {
  const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
  return (value & kKernelHandleBits) == kKernelHandleBits && value != ~ULONG_PTR{0} &&
         value != ~ULONG_PTR{1};
}

HANDLE HandleTable::HandleFor(ULONG_PTR slot) const {
  ULONG_PTR value = (slot + 1) * 4;
  if (kernel_) value |= kKernelHandleBits;
  return reinterpret_cast<HANDLE>(value);
}

HANDLE HandleTable::FirstHandle() const {
  for (ULONG_PTR slot = 0; slot < entries_.size(); ++slot)
    if (entries_[slot].object != nullptr) return HandleFor(slot);
  return nullptr;
}

NTSTATUS HandleTable::Insert(PVOID object, ACCESS_MASK granted, ULONG attributes, PHANDLE handle) {
  ULONG slot;
  if (!free_.empty()) {
    // Lowest free slot first, so handle values do not depend on history beyond the table.
    auto lowest = free_.begin();
    for (auto it = free_.begin(); it != free_.end(); ++it)
      if (*it < *lowest) lowest = it;
    slot = *lowest;
    free_.erase(lowest);
  } else {
    if (entries_.size() >= 0x1000000) return STATUS_INSUFFICIENT_RESOURCES;
    slot = static_cast<ULONG>(entries_.size());
    entries_.emplace_back();
  }
  entries_[slot] = Entry{object, granted, attributes};
  ++count_;
  *handle = HandleFor(slot);
  return STATUS_SUCCESS;
}

const HandleTable::Entry* HandleTable::Lookup(HANDLE handle) const {
  ULONG_PTR value = reinterpret_cast<ULONG_PTR>(handle);
  if (IsKernelHandle(handle) != kernel_) return nullptr;
  value &= ~kKernelHandleBits;
  if (value == 0 || (value & 3) != 0) return nullptr;
  const ULONG_PTR slot = value / 4 - 1;
  if (slot >= entries_.size() || entries_[slot].object == nullptr) return nullptr;
  return &entries_[slot];
}

NTSTATUS HandleTable::Remove(HANDLE handle, Entry* removed) {
  const Entry* entry = Lookup(handle);
  if (entry == nullptr) return STATUS_INVALID_HANDLE;
  const ULONG slot = static_cast<ULONG>(entry - entries_.data());
  *removed = *entry;
  entries_[slot] = Entry{};
  free_.push_back(slot);
  --count_;
  return STATUS_SUCCESS;
}

std::vector<HandleTable::Entry> HandleTable::RemoveAll() {
  std::vector<Entry> all;
  for (Entry& entry : entries_)
    if (entry.object != nullptr) all.push_back(entry);
  entries_.clear();
  free_.clear();
  count_ = 0;
  return all;
}

ULONG_PTR HandleTable::CountFor(PVOID object) const {
  ULONG_PTR n = 0;
  for (const Entry& entry : entries_) n += entry.object == object ? 1 : 0;
  return n;
}

}  // namespace tarnlink::kernel
