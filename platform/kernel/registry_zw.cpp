#include <cstring>
#include <new>

#include "kernel/io_strings.h"
#include "kernel/ps.h"
#include "kernel/registry_key_object.h"
#include "kernel/registry_zw.h"

namespace tarnlink::io {

namespace {

struct KeyBody {
  host::RegistryKeyRef key;
};

VOID DeleteKeyObject(PVOID object) {
  static_cast<KeyBody*>(object)->~KeyBody();
}

OBJECT_TYPE g_key_type = {
    .Name = "Key",
    .DeleteProcedure = DeleteKeyObject,
    .CloseProcedure = nullptr,
    .GenericMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS},
    .ValidAccessMask = KEY_ALL_ACCESS | KEY_WOW64_64KEY | KEY_WOW64_32KEY,
    .DiscardProcedure = DeleteKeyObject,
};
POBJECT_TYPE g_key_type_pointer = &g_key_type;

// The base key and the path below it that the attributes name.
NTSTATUS Locate(POBJECT_ATTRIBUTES attributes, KPROCESSOR_MODE mode, host::RegistryKeyRef* base,
                std::u16string_view* path) {
  if (attributes == nullptr) return STATUS_INVALID_PARAMETER;
  *path = tarnlink::io::StringView(attributes->ObjectName);
  if (attributes->RootDirectory != nullptr)
    return KeyFromHandle(attributes->RootDirectory, 0, mode, base);
  // \Registry itself: every absolute name starts there.
  *base = host::MachineRegistry().OpenAbsolute(u"\\Registry");
  constexpr std::u16string_view prefix = u"\\Registry";
  if (path->size() < prefix.size() || path->front() != u'\\') return STATUS_OBJECT_PATH_NOT_FOUND;
  host::RegistryKeyRef checked =
      host::MachineRegistry().OpenAbsolute(path->substr(0, prefix.size()));
  if (checked != *base) return STATUS_OBJECT_PATH_NOT_FOUND;
  path->remove_prefix(prefix.size());
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS InsertKeyHandle(const host::RegistryKeyRef& key, ACCESS_MASK DesiredAccess,
                         ULONG Attributes, KPROCESSOR_MODE Mode, PHANDLE Handle) {
  if (Mode == UserMode) Attributes &= ~static_cast<ULONG>(OBJ_KERNEL_HANDLE);
  PVOID object = nullptr;
  NTSTATUS status = ObHostCreateObject(*CmKeyObjectType, sizeof(KeyBody), 0, &object);
  if (!NT_SUCCESS(status)) return status;
  new (object) KeyBody{key};
  ACCESS_MASK granted = ObHostMapGenericAccess(*CmKeyObjectType, DesiredAccess);
  status = ObHostInsertHandle(PsGetCurrentProcess(), object, granted, Attributes, Handle);
  ObDereferenceObject(object);
  return status;
}

NTSTATUS KeyFromHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, KPROCESSOR_MODE Mode,
                       host::RegistryKeyRef* key) {
  PVOID object = nullptr;
  NTSTATUS status =
      ObReferenceObjectByHandle(Handle, DesiredAccess, *CmKeyObjectType, Mode, &object, nullptr);
  if (!NT_SUCCESS(status)) return status;
  *key = static_cast<KeyBody*>(object)->key;
  ObDereferenceObject(object);
  return host::MachineRegistry().IsDeleted(*key) ? STATUS_KEY_DELETED : STATUS_SUCCESS;
}

}  // namespace tarnlink::io

POBJECT_TYPE* CmKeyObjectType = &tarnlink::io::g_key_type_pointer;

using tarnlink::io::KeyFromHandle;

namespace {

// Copies what fits of [data, data + size) to out + offset within length; true when all did.
bool CopyPart(PVOID out, ULONG length, ULONG offset, const void* data, size_t size) {
  if (offset >= length) return size == 0;
  size_t room = length - offset;
  size_t n = size < room ? size : room;
  if (n != 0) std::memcpy(static_cast<PUCHAR>(out) + offset, data, n);
  return n == size;
}

constexpr ULONG AlignTo8(ULONG n) {
  return (n + 7) & ~7u;
}

}  // namespace

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                     POBJECT_ATTRIBUTES ObjectAttributes, ULONG TitleIndex, PUNICODE_STRING Class,
                     ULONG CreateOptions, PULONG Disposition) {
  UNREFERENCED_PARAMETER(TitleIndex);
  UNREFERENCED_PARAMETER(Class);
  UNREFERENCED_PARAMETER(CreateOptions);
  if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  host::RegistryKeyRef base;
  std::u16string_view path;
  NTSTATUS status = tarnlink::io::Locate(ObjectAttributes, KernelMode, &base, &path);
  if (!NT_SUCCESS(status)) return status;
  host::RegistryKeyRef key;
  bool created = false;
  status = host::MachineRegistry().Create(base, path, &key, &created);
  if (!NT_SUCCESS(status)) return status;
  status = tarnlink::io::InsertKeyHandle(key, DesiredAccess, ObjectAttributes->Attributes,
                                         KernelMode, KeyHandle);
  if (NT_SUCCESS(status) && Disposition != nullptr)
    *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return status;
}

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                   POBJECT_ATTRIBUTES ObjectAttributes) {
  if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  host::RegistryKeyRef base;
  std::u16string_view path;
  NTSTATUS status = tarnlink::io::Locate(ObjectAttributes, KernelMode, &base, &path);
  if (!NT_SUCCESS(status)) return status;
  host::RegistryKeyRef key = host::MachineRegistry().Open(base, path);
  if (!key) return STATUS_OBJECT_NAME_NOT_FOUND;
  return tarnlink::io::InsertKeyHandle(key, DesiredAccess, ObjectAttributes->Attributes, KernelMode,
                                       KeyHandle);
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName_,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
  if (ResultLength == nullptr) return STATUS_INVALID_PARAMETER;
  if (Length != 0 && KeyValueInformation == nullptr) return STATUS_INVALID_PARAMETER;
  host::RegistryKeyRef key;
  NTSTATUS status = KeyFromHandle(KeyHandle, KEY_QUERY_VALUE, KernelMode, &key);
  if (!NT_SUCCESS(status)) return status;
  host::RegistryValue value;
  status = host::MachineRegistry().QueryValue(key, tarnlink::io::StringView(ValueName_), &value);
  if (!NT_SUCCESS(status)) return status;
  const auto data_length = static_cast<ULONG>(value.data.size());
  const auto name_length = static_cast<ULONG>(value.name.size() * sizeof(WCHAR));

  ULONG fixed = 0, needed = 0;
  bool complete = true;
  switch (KeyValueInformationClass) {
    case KeyValuePartialInformation: {
      fixed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
      needed = fixed + data_length;
      if (Length < fixed) break;
      KEY_VALUE_PARTIAL_INFORMATION head = {0, value.type, data_length, {}};
      std::memcpy(KeyValueInformation, &head, fixed);
      complete = CopyPart(KeyValueInformation, Length, fixed, value.data.data(), data_length);
      break;
    }
    case KeyValueFullInformation: {
      fixed = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);
      const ULONG data_offset = AlignTo8(fixed + name_length);
      needed = data_offset + data_length;
      if (Length < fixed) break;
      KEY_VALUE_FULL_INFORMATION head = {0, value.type, data_offset, data_length, name_length, {}};
      std::memcpy(KeyValueInformation, &head, fixed);
      complete = CopyPart(KeyValueInformation, Length, fixed, value.name.data(), name_length);
      complete =
          CopyPart(KeyValueInformation, Length, data_offset, value.data.data(), data_length) &&
          complete;
      break;
    }
    case KeyValueBasicInformation: {
      fixed = FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name);
      needed = fixed + name_length;
      if (Length < fixed) break;
      KEY_VALUE_BASIC_INFORMATION head = {0, value.type, name_length, {}};
      std::memcpy(KeyValueInformation, &head, fixed);
      complete = CopyPart(KeyValueInformation, Length, fixed, value.name.data(), name_length);
      break;
    }
    default:
      return STATUS_INVALID_PARAMETER;
  }
  *ResultLength = needed;
  if (Length < fixed) return STATUS_BUFFER_TOO_SMALL;
  return complete ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName_, ULONG TitleIndex, ULONG Type,
                       PVOID Data, ULONG DataSize) {
  UNREFERENCED_PARAMETER(TitleIndex);
  host::RegistryKeyRef key;
  NTSTATUS status = KeyFromHandle(KeyHandle, KEY_SET_VALUE, KernelMode, &key);
  if (!NT_SUCCESS(status)) return status;
  return host::MachineRegistry().SetValue(key, tarnlink::io::StringView(ValueName_), Type, Data,
                                          DataSize);
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName_) {
  host::RegistryKeyRef key;
  NTSTATUS status = KeyFromHandle(KeyHandle, KEY_SET_VALUE, KernelMode, &key);
  if (!NT_SUCCESS(status)) return status;
  return host::MachineRegistry().DeleteValue(key, tarnlink::io::StringView(ValueName_));
}

NTSTATUS ZwDeleteKey(HANDLE KeyHandle) {
  host::RegistryKeyRef key;
  NTSTATUS status = KeyFromHandle(KeyHandle, DELETE, KernelMode, &key);
  if (!NT_SUCCESS(status)) return status;
  return host::MachineRegistry().DeleteKey(key);
}

NTSTATUS ZwFlushKey(HANDLE KeyHandle) {
  host::RegistryKeyRef key;
  return KeyFromHandle(KeyHandle, 0, KernelMode, &key);
}
