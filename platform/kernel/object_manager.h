// The object manager of one machine: which addresses are live objects, and the handle table
// the kernel keeps for itself.
#pragma once

#include <mutex>
#include <unordered_map>

#include "kernel/ob_host.h"

namespace tarnlink::kernel {

class ObjectManager {
 public:
  ObjectManager() = default;
  ~ObjectManager();
  ObjectManager(const ObjectManager&) = delete;
  ObjectManager& operator=(const ObjectManager&) = delete;

  NTSTATUS Create(POBJECT_TYPE type, SIZE_T bodySize, ULONG flags, PVOID* body);
  POBJECT_HEADER Header(PVOID body) const;
  // Reference counting; a count that would go below zero or a non-object is reported through
  // *error (0 when fine) rather than acted on, so the caller can bug check outside the lock.
  LONG_PTR Reference(PVOID body, LONG_PTR count, ULONG* error);
  LONG_PTR Dereference(PVOID body, ULONG* error);
  // Drops a reference without running the delete procedure; returns true when it was the last
  // one, and the caller then tears the body down and calls Free.
  bool DereferenceKeepingBody(PVOID body, ULONG* error);
  void Free(PVOID body);
  void AddHandle(PVOID body, LONG_PTR delta);
  SIZE_T DriverObjectCount() const;
  // Frees every object still alive without calling delete procedures (machine teardown).
  void DiscardAll();

 private:
  void Destroy(POBJECT_HEADER header, PVOID body);

  mutable std::mutex mutex_;
  std::unordered_map<PVOID, POBJECT_HEADER> objects_;
  std::unordered_map<PVOID, POBJECT_HEADER> retired_;  // unreferenced, not yet freed
};

}  // namespace tarnlink::kernel
