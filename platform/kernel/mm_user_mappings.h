// The second mappings of non-paged pages that drivers made into processes
// (MmMapLockedPagesSpecifyCache in UserMode): the same pages at another address, as on Windows,
// so that a driver which hands the kernel address to a process, or keeps the mapping past the
// process, is caught.
#pragma once

#include <cstdint>
#include <mutex>
#include <map>
#include <vector>

#include "kernel/io_types.h"
#include "kernel/ke_types.h"

namespace tarnlink::kernel {

struct UserMapping {
  PVOID userAddress;  // the first described byte, as the process sees it
  PVOID base;         // the page-aligned start of the mapping in the process
  SIZE_T bytes;       // whole pages
  PMDL mdl;
  PEPROCESS process;
  ULONG cacheType;
  ULONG priority;  // page priority with its MdlMapping* flags
};

class UserMappingTable {
 public:
  void Add(const UserMapping& mapping);
  // The mapping that begins at userAddress; false when there is none.
  bool Take(PVOID userAddress, UserMapping* mapping);
  bool Find(PVOID userAddress, UserMapping* mapping) const;
  bool HasMappingOf(PMDL mdl) const;
  std::vector<UserMapping> Of(PEPROCESS process) const;
  std::vector<UserMapping> All() const;

 private:
  mutable std::mutex mutex_;
  std::map<uintptr_t, UserMapping> mappings_;
};

}  // namespace tarnlink::kernel
