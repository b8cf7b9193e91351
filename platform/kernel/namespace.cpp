#include "kernel/namespace.h"

#include <map>
#include <mutex>

#include "kernel/registry_names.h"

namespace tarnlink::io {

namespace {

struct Entry {
  std::u16string name;
  PVOID object = nullptr;  // a named object
  std::u16string target;   // a symbolic link
  std::u16string interfaceReference;
};

struct Namespace {
  std::mutex lock;
  std::map<std::u16string, Entry> entries;  // by folded canonical name
};

Namespace& Names() {
  static Namespace names;
  return names;
}

std::u16string Key(std::u16string_view name) {
  return host::FoldRegistryName(CanonicalObjectName(name));
}

// An object's entry is live while the object is, and still carries the name (the header's
// NameInfo points at the entry), and has handles or is a device object.
bool Live(const Entry& entry) {
  if (entry.object == nullptr) return false;
  POBJECT_HEADER header = ObHostObjectHeader(entry.object);
  if (header == nullptr || header->NameInfo != &entry) return false;
  return header->HandleCount > 0 || header->Type == *IoDeviceObjectType;
}

bool StartsWithFolded(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         host::FoldRegistryName(text.substr(0, prefix.size())) == host::FoldRegistryName(prefix);
}

// A fresh entry for the name, replacing one whose object has gone; null when the name is taken.
// The caller holds the lock.
Entry* Claim(Namespace& names, std::u16string_view name) {
  std::u16string key = Key(name);
  auto it = names.entries.find(key);
  if (it != names.entries.end()) {
    if (it->second.object == nullptr || Live(it->second)) return nullptr;
    names.entries.erase(it);
  }
  Entry& entry = names.entries[key];
  entry.name = CanonicalObjectName(name);
  return &entry;
}

}  // namespace

std::u16string CanonicalObjectName(std::u16string_view name) {
  for (std::u16string_view alias : {u"\\DosDevices\\", u"\\GLOBAL??\\"}) {
    if (StartsWithFolded(name, alias)) return u"\\??\\" + std::u16string(name.substr(alias.size()));
  }
  return std::u16string(name);
}

NTSTATUS InsertNamedObject(std::u16string_view name, PVOID object) {
  if (name.empty() || name.front() != u'\\') return STATUS_OBJECT_NAME_INVALID;
  POBJECT_HEADER header = ObHostObjectHeader(object);
  if (header == nullptr) return STATUS_INVALID_PARAMETER;
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  Entry* claimed = Claim(names, name);
  if (claimed == nullptr) return STATUS_OBJECT_NAME_COLLISION;
  Entry& entry = *claimed;
  entry.object = object;
  header->NameInfo = &entry;
  return STATUS_SUCCESS;
}

VOID RemoveNamedObject(PVOID object) {
  POBJECT_HEADER header = ObHostObjectHeader(object);
  if (header == nullptr || header->NameInfo == nullptr) return;
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  auto* entry = static_cast<Entry*>(header->NameInfo);
  header->NameInfo = nullptr;
  names.entries.erase(Key(entry->name));
}

std::u16string NameOf(PVOID object) {
  POBJECT_HEADER header = ObHostObjectHeader(object);
  if (header == nullptr || header->NameInfo == nullptr) return {};
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  return static_cast<Entry*>(header->NameInfo)->name;
}

NTSTATUS ReferenceNamedObject(std::u16string_view name, POBJECT_TYPE type, PVOID* object) {
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  auto it = names.entries.find(Key(name));
  if (it == names.entries.end() || it->second.object == nullptr || !Live(it->second))
    return STATUS_OBJECT_NAME_NOT_FOUND;
  if (type != nullptr && ObHostObjectHeader(it->second.object)->Type != type)
    return STATUS_OBJECT_TYPE_MISMATCH;
  ObReferenceObject(it->second.object);
  *object = it->second.object;
  return STATUS_SUCCESS;
}

NTSTATUS CreateSymbolicLink(std::u16string_view link, std::u16string_view target,
                            std::u16string_view interfaceReference) {
  if (link.empty() || link.front() != u'\\' || target.empty()) return STATUS_OBJECT_NAME_INVALID;
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  Entry* entry = Claim(names, link);
  if (entry == nullptr) return STATUS_OBJECT_NAME_COLLISION;
  entry->target = target;
  entry->interfaceReference = interfaceReference;
  return STATUS_SUCCESS;
}

NTSTATUS DeleteSymbolicLink(std::u16string_view link) {
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  auto it = names.entries.find(Key(link));
  if (it == names.entries.end() || it->second.object != nullptr)
    return STATUS_OBJECT_NAME_NOT_FOUND;
  names.entries.erase(it);
  return STATUS_SUCCESS;
}

NTSTATUS ResolvePath(std::u16string_view path, ResolvedPath* resolved) {
  std::u16string current = CanonicalObjectName(path);
  std::u16string reference;
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  // A link may point at another link; Windows gives up after a few dozen hops.
  for (int hops = 0; hops < 32; ++hops) {
    // The longest entry that is the whole path or ends at a separator within it.
    const Entry* best = nullptr;
    size_t best_length = 0;
    std::u16string folded = host::FoldRegistryName(current);
    for (size_t end = current.size(); end > 1; --end) {
      if (end != current.size() && current[end] != u'\\') continue;
      auto it = names.entries.find(folded.substr(0, end));
      if (it != names.entries.end()) {
        best = &it->second;
        best_length = end;
        break;
      }
    }
    if (best == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    std::u16string rest = current.substr(best_length);
    if (best->object == nullptr) {
      if (!best->interfaceReference.empty()) reference = best->interfaceReference;
      current = CanonicalObjectName(best->target) + rest;
      continue;
    }
    if (!Live(*best)) return STATUS_OBJECT_NAME_NOT_FOUND;
    ObReferenceObject(best->object);
    resolved->object = best->object;
    resolved->remainder = rest;
    resolved->interfaceReference = reference;
    return STATUS_SUCCESS;
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

std::u16string Win32ObjectName(std::u16string_view name) {
  std::u16string_view directory = u"\\Sessions\\1\\BaseNamedObjects\\";
  if (StartsWithFolded(name, u"Global\\")) {
    directory = u"\\BaseNamedObjects\\";
    name.remove_prefix(7);
  } else if (StartsWithFolded(name, u"Local\\")) {
    name.remove_prefix(6);
  }
  if (name.empty() || name.find(u'\\') != std::u16string_view::npos) return {};
  return std::u16string(directory) + std::u16string(name);
}

VOID ResetNamespace() {
  Namespace& names = Names();
  std::lock_guard<std::mutex> guard(names.lock);
  for (auto& [key, entry] : names.entries) {
    if (entry.object == nullptr) continue;
    POBJECT_HEADER header = ObHostObjectHeader(entry.object);
    if (header != nullptr && header->NameInfo == &entry) header->NameInfo = nullptr;
  }
  names.entries.clear();
}

}  // namespace tarnlink::io
