// Object bodies with their headers, and the registry of live objects that lets the kernel
// reject a pointer that is not an object instead of reading a header that is not there.
#include "kernel/object_manager.h"

#include <new>
#include <vector>

#include "kernel/bugcheck.h"

namespace tarnlink::kernel {

namespace {
constexpr ULONG kObjectMagic = 0x6A624F54;  // "TObj"
constexpr SIZE_T kHeaderSpace = (sizeof(OBJECT_HEADER) + 15) & ~SIZE_T{15};
}  // namespace

ObjectManager::~ObjectManager() {
  DiscardAll();
}

NTSTATUS ObjectManager::Create(POBJECT_TYPE type, SIZE_T bodySize, ULONG flags, PVOID* body) {
  *body = nullptr;
  if (type == nullptr || bodySize > (SIZE_T{1} << 32)) return STATUS_INVALID_PARAMETER;
  auto* storage = static_cast<unsigned char*>(
      ::operator new (kHeaderSpace + bodySize, std::align_val_t{16}, std::nothrow));
  if (storage == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  for (SIZE_T i = 0; i < kHeaderSpace + bodySize; ++i) storage[i] = 0;
  auto* header = reinterpret_cast<POBJECT_HEADER>(storage);
  header->Magic = kObjectMagic;
  header->Flags = flags;
  header->PointerCount = 1;
  header->Type = type;
  PVOID object = storage + kHeaderSpace;
  std::lock_guard<std::mutex> guard(mutex_);
  objects_.emplace(object, header);
  *body = object;
  return STATUS_SUCCESS;
}

POBJECT_HEADER ObjectManager::Header(PVOID body) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = objects_.find(body);
  return it == objects_.end() ? nullptr : it->second;
}

LONG_PTR ObjectManager::Reference(PVOID body, LONG_PTR count, ULONG* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  *error = 0;
  auto it = objects_.find(body);
  if (it == objects_.end()) {
    *error = REFERENCE_BY_POINTER;
    return 0;
  }
  if (it->second->PointerCount <= 0) {
    *error = REFERENCE_BY_POINTER;
    return it->second->PointerCount;
  }
  return it->second->PointerCount += count;
}

LONG_PTR ObjectManager::Dereference(PVOID body, ULONG* error) {
  POBJECT_HEADER header;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    *error = 0;
    auto it = objects_.find(body);
    if (it == objects_.end() || it->second->PointerCount <= 0) {
      *error = REFERENCE_BY_POINTER;
      return 0;
    }
    header = it->second;
    if (--header->PointerCount > 0) return header->PointerCount;
    objects_.erase(it);
  }
  // The delete procedure may take other locks (the dispatcher lock for threads): it runs
  // outside the registry's lock.
  if (header->Type->DeleteProcedure != nullptr) header->Type->DeleteProcedure(body);
  Destroy(header, body);
  return 0;
}

bool ObjectManager::DereferenceKeepingBody(PVOID body, ULONG* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  *error = 0;
  auto it = objects_.find(body);
  if (it == objects_.end() || it->second->PointerCount <= 0) {
    *error = REFERENCE_BY_POINTER;
    return false;
  }
  if (--it->second->PointerCount > 0) return false;
  retired_.emplace(body, it->second);
  objects_.erase(it);
  return true;
}

void ObjectManager::Free(PVOID body) {
  POBJECT_HEADER header;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = retired_.find(body);
    if (it == retired_.end()) return;
    header = it->second;
    retired_.erase(it);
  }
  Destroy(header, body);
}

void ObjectManager::AddHandle(PVOID body, LONG_PTR delta) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = objects_.find(body);
  if (it != objects_.end()) it->second->HandleCount += delta;
}

SIZE_T ObjectManager::DriverObjectCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  SIZE_T n = 0;
  for (const auto& [body, header] : objects_) n += (header->Flags & OB_FLAG_MACHINE_OWNED) ? 0 : 1;
  return n;
}

void ObjectManager::DiscardAll() {
  std::vector<std::pair<PVOID, POBJECT_HEADER>> all;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    all.assign(objects_.begin(), objects_.end());
    objects_.clear();
  }
  for (auto& [body, header] : all)
    if (header->Type->DiscardProcedure != nullptr) header->Type->DiscardProcedure(body);
  for (auto& [body, header] : all) Destroy(header, body);
}

void ObjectManager::Destroy(POBJECT_HEADER header, PVOID) {
  header->Magic = 0;
  ::operator delete (header, std::align_val_t{16});
}

}  // namespace tarnlink::kernel
