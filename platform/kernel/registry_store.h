// The machine's one registry: a tree of keys with typed values and change notification.
// Host-side class; the kernel's Zw* calls and the Win32 layer's Reg* calls are both built on it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/ntstatus.h"
#include "kernel/registry_types.h"

namespace host {

// The predefined roots. Keys are reached from a root by a '\'-separated relative path, or by the
// kernel's absolute names (\Registry\Machine\..., \Registry\User\...).
enum class RegistryRoot { LocalMachine, CurrentUser, ClassesRoot };

struct RegistryKeyNode;
// A key stays usable by whoever holds a reference, even after it has been deleted from the tree
// (operations on it then fail with STATUS_KEY_DELETED, as on Windows).
using RegistryKeyRef = std::shared_ptr<RegistryKeyNode>;

struct RegistryValue {
  std::u16string name;  // as written by the creator; looked up without regard to case
  ULONG type = REG_NONE;
  std::vector<uint8_t> data;
};

class RegistryStore {
 public:
  using WatchId = uint64_t;

  RegistryStore();
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  RegistryKeyRef Root(RegistryRoot root) const;

  // Opens `path` below `base` (an empty path opens `base` itself); null when a key is missing.
  RegistryKeyRef Open(const RegistryKeyRef& base, std::u16string_view path) const;
  // Opens an absolute kernel name such as \Registry\Machine\SYSTEM (letter case ignored).
  RegistryKeyRef OpenAbsolute(std::u16string_view path) const;
  // Opens or creates every missing key along `path`. Fails with STATUS_OBJECT_NAME_INVALID on an
  // empty component or one longer than 255 characters, STATUS_KEY_DELETED under a deleted key.
  NTSTATUS Create(const RegistryKeyRef& base, std::u16string_view path, RegistryKeyRef* key,
                  bool* created);
  // Deletes a key that has no subkeys (STATUS_CANNOT_DELETE otherwise, and for a root).
  NTSTATUS DeleteKey(const RegistryKeyRef& key);

  NTSTATUS SetValue(const RegistryKeyRef& key, std::u16string_view name, ULONG type,
                    const void* data, size_t size);
  // STATUS_OBJECT_NAME_NOT_FOUND when the value does not exist.
  NTSTATUS QueryValue(const RegistryKeyRef& key, std::u16string_view name,
                      RegistryValue* value) const;
  NTSTATUS DeleteValue(const RegistryKeyRef& key, std::u16string_view name);
  // Enumeration by index, in name order; STATUS_NO_MORE_ENTRIES past the end.
  NTSTATUS EnumerateValue(const RegistryKeyRef& key, size_t index, RegistryValue* value) const;
  NTSTATUS EnumerateSubkey(const RegistryKeyRef& key, size_t index, std::u16string* name) const;

  bool IsDeleted(const RegistryKeyRef& key) const;
  // The key's absolute kernel name, e.g. \Registry\Machine\SYSTEM\CurrentControlSet.
  std::u16string AbsolutePath(const RegistryKeyRef& key) const;

  // One-shot change notification, as Windows arms it: the callback runs once, outside the store's
  // lock, at the first change that matches `filter` (REG_NOTIFY_CHANGE_*) on the key, or below
  // it when `subtree` is set; deleting the watched key fires it too.
  WatchId Watch(const RegistryKeyRef& key, bool subtree, ULONG filter,
                std::function<void()> callback);
  // Disarms a watch that has not fired; harmless for one that has.
  void CancelWatch(WatchId id);

  // Persistence. The file is untrusted: Load checks every length and name and, on any fault,
  // leaves the store unchanged and returns STATUS_REGISTRY_CORRUPT.
  std::vector<uint8_t> Serialize() const;
  NTSTATUS Deserialize(const uint8_t* data, size_t size);
  NTSTATUS SaveToFile(const std::string& path) const;
  NTSTATUS LoadFromFile(const std::string& path);

  // Back to an empty machine (the three roots and nothing else); armed watches are dropped.
  void Clear();

 private:
  struct Watcher {
    WatchId id;
    std::weak_ptr<RegistryKeyNode> key;
    bool subtree;
    ULONG filter;
    std::function<void()> callback;
  };
  // Collects (and disarms) the watchers a change of `node` fires; they run after the lock is
  // dropped, so a callback may use the store.
  void Notify(const RegistryKeyNode* node, ULONG change, bool only_this_key,
              std::vector<std::function<void()>>* fire);
  static void Run(std::vector<std::function<void()>>& fire);
  void EnsureWellKnownKeys();

  mutable std::mutex lock_;
  RegistryKeyRef root_;  // \Registry
  RegistryKeyRef machine_;
  RegistryKeyRef user_;
  RegistryKeyRef classes_;       // \Registry\Machine\SOFTWARE\Classes
  RegistryKeyRef current_user_;  // \Registry\User\<the machine's user>
  std::vector<Watcher> watchers_;
  WatchId next_watch_ = 1;
};

// The machine's registry.
RegistryStore& MachineRegistry();

}  // namespace host
