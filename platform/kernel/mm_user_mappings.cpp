#include "kernel/mm_user_mappings.h"

namespace tarnlink::kernel {

void UserMappingTable::Add(const UserMapping& mapping) {
  std::lock_guard<std::mutex> guard(mutex_);
  mappings_[reinterpret_cast<uintptr_t>(mapping.userAddress)] = mapping;
}

bool UserMappingTable::Take(PVOID userAddress, UserMapping* mapping) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = mappings_.find(reinterpret_cast<uintptr_t>(userAddress));
  if (it == mappings_.end()) return false;
  *mapping = it->second;
  mappings_.erase(it);
  return true;
}

bool UserMappingTable::Find(PVOID userAddress, UserMapping* mapping) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = mappings_.find(reinterpret_cast<uintptr_t>(userAddress));
  if (it == mappings_.end()) return false;
  *mapping = it->second;
  return true;
}

bool UserMappingTable::HasMappingOf(PMDL mdl) const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& [address, mapping] : mappings_) {
    if (mapping.mdl == mdl) return true;
  }
  return false;
}

std::vector<UserMapping> UserMappingTable::Of(PEPROCESS process) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<UserMapping> found;
  for (const auto& [address, mapping] : mappings_) {
    if (mapping.process == process) found.push_back(mapping);
  }
  return found;
}

std::vector<UserMapping> UserMappingTable::All() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<UserMapping> found;
  for (const auto& [address, mapping] : mappings_) found.push_back(mapping);
  return found;
}

}  // namespace tarnlink::kernel
