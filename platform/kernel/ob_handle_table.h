// A process's handle table. Each entry holds one reference on its object.
#pragma once

#include <vector>

#include "kernel/ob.h"

namespace tarnlink::kernel {

class HandleTable {
 public:
  // Kernel handle values carry a tag bit so that a kernel handle never passes for a user one.
  explicit HandleTable(bool kernelTable) : kernel_(kernelTable) {}
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  struct Entry {
    PVOID object = nullptr;
    ACCESS_MASK granted = 0;
    ULONG attributes = 0;
  };

  // Takes a new reference on the object.
  NTSTATUS Insert(PVOID object, ACCESS_MASK granted, ULONG attributes, PHANDLE handle);
  // The entry for a handle (no reference taken), or null when the handle is not open here.
  const Entry* Lookup(HANDLE handle) const;
  // Removes the entry and hands its reference to the caller through *object.
  NTSTATUS Remove(HANDLE handle, Entry* removed);
  // Removes every entry, returning them in handle order.
  std::vector<Entry> RemoveAll();
  // The lowest open handle, or null when the table is empty.
  HANDLE FirstHandle() const;
  // How many handles of this table refer to the object.
  ULONG_PTR CountFor(PVOID object) const;
  SIZE_T Count() const { return count_; }
  bool IsKernelTable() const { return kernel_; }
  static bool IsKernelHandle(HANDLE handle);

 private:
  HANDLE HandleFor(ULONG_PTR slot) const;

  bool kernel_;
  std::vector<Entry> entries_;
  std::vector<ULONG> free_;
  SIZE_T count_ = 0;
};

}  // namespace tarnlink::kernel
