#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "kernel/device_object_host.h"
#include "kernel/ex_pool.h"
#include "kernel/io_strings.h"
#include "kernel/namespace.h"
#include "kernel/pnp_device_interface.h"
#include "kernel/pnp_host.h"
#include "kernel/registry_key_object.h"
#include "kernel/registry_names.h"

namespace tarnlink::io {

namespace {

constexpr ULONG kLinkNameTag = 0x49446F49;  // "IoDI"

struct Interface {
  DeviceInterfaceInfo info;
  PDEVICE_OBJECT pdo;
};

struct PnpState {
  std::mutex lock;
  std::map<PDEVICE_OBJECT, DeviceNodeInfo> nodes;
  std::vector<Interface> interfaces;  // registration order
  std::map<uint64_t, InterfaceChangeCallback> watchers;
  uint64_t nextWatch = 1;
};

PnpState& State() {
  static PnpState state;
  return state;
}

Interface* FindLink(PnpState& state, std::u16string_view link) {
  std::u16string folded = host::FoldRegistryName(CanonicalObjectName(link));
  for (Interface& i : state.interfaces)
    if (host::FoldRegistryName(i.info.symbolicLink) == folded) return &i;
  return nullptr;
}

void Announce(const DeviceInterfaceInfo& info, bool arrived) {
  std::vector<InterfaceChangeCallback> callbacks;
  {
    PnpState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    for (auto& [id, callback] : state.watchers) callbacks.push_back(callback);
  }
  for (auto& callback : callbacks) callback(info, arrived);
}

// The interface's link without its reference string. On Windows the object manager link is
// this one, shared by every interface of the class on the device, and whatever follows it in a
// path (the reference string, or another name) reaches the driver as the file name.
std::u16string BaseLink(const Interface& i) {
  if (i.info.referenceString.empty()) return i.info.symbolicLink;
  return i.info.symbolicLink.substr(
      0, i.info.symbolicLink.size() - i.info.referenceString.size() - 1);
}

bool BaseInUse(PnpState& state, const std::u16string& base) {
  const std::u16string folded = host::FoldRegistryName(base);
  for (const Interface& i : state.interfaces)
    if (i.info.enabled && host::FoldRegistryName(BaseLink(i)) == folded) return true;
  return false;
}

// Takes an interface out of the namespace; the caller holds the lock and announces after.
void Disable(PnpState& state, Interface& i) {
  DeleteSymbolicLink(i.info.symbolicLink);
  i.info.enabled = false;
  if (!i.info.referenceString.empty() && !BaseInUse(state, BaseLink(i)))
    DeleteSymbolicLink(BaseLink(i));
}

std::u16string HardwareKeyPath(const DeviceNodeInfo& node) {
  return u"SYSTEM\\CurrentControlSet\\Enum\\" + node.instanceId;
}

}  // namespace

std::u16string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::u16string(text, text + std::strlen(text));
}

NTSTATUS CreateDeviceNode(PDEVICE_OBJECT PhysicalDeviceObject, const DeviceNodeInfo& info) {
  if (info.instanceId.empty()) return STATUS_INVALID_PARAMETER;
  NTSTATUS named = NameDeviceAutomatically(PhysicalDeviceObject);
  if (!NT_SUCCESS(named)) return named;
  PnpState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    std::u16string folded = host::FoldRegistryName(info.instanceId);
    for (auto& [pdo, node] : state.nodes)
      if (host::FoldRegistryName(node.instanceId) == folded) return STATUS_OBJECT_NAME_COLLISION;
    if (state.nodes.count(PhysicalDeviceObject) != 0) return STATUS_OBJECT_NAME_COLLISION;
    state.nodes[PhysicalDeviceObject] = info;
    PhysicalDeviceObject->DeviceObjectExtension->DeviceNode = PhysicalDeviceObject;
  }
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  NTSTATUS status = registry.Create(registry.Root(host::RegistryRoot::LocalMachine),
                                    HardwareKeyPath(info), &key, nullptr);
  if (NT_SUCCESS(status)) {
    registry.SetValue(key, u"Service", REG_SZ, info.serviceName.c_str(),
                      (info.serviceName.size() + 1) * sizeof(WCHAR));
    registry.SetValue(key, u"DeviceDesc", REG_SZ, info.description.c_str(),
                      (info.description.size() + 1) * sizeof(WCHAR));
  }
  return status;
}

VOID RemoveDeviceNode(PDEVICE_OBJECT PhysicalDeviceObject) {
  std::vector<DeviceInterfaceInfo> removed;
  {
    PnpState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    for (Interface& i : state.interfaces) {
      if (i.pdo != PhysicalDeviceObject || !i.info.enabled) continue;
      Disable(state, i);
      removed.push_back(i.info);
    }
    std::erase_if(state.interfaces,
                  [&](const Interface& i) { return i.pdo == PhysicalDeviceObject; });
    state.nodes.erase(PhysicalDeviceObject);
    PhysicalDeviceObject->DeviceObjectExtension->DeviceNode = nullptr;
  }
  for (const DeviceInterfaceInfo& info : removed) Announce(info, false);
}

std::vector<DeviceInterfaceInfo> EnumerateDeviceInterfaces(const GUID& interfaceClass,
                                                           bool presentOnly) {
  PnpState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  std::vector<DeviceInterfaceInfo> found;
  for (const Interface& i : state.interfaces)
    if (i.info.interfaceClass == interfaceClass && (i.info.enabled || !presentOnly))
      found.push_back(i.info);
  return found;
}

uint64_t WatchDeviceInterfaces(InterfaceChangeCallback callback) {
  PnpState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  uint64_t id = state.nextWatch++;
  state.watchers[id] = std::move(callback);
  return id;
}

VOID CancelDeviceInterfaceWatch(uint64_t id) {
  PnpState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.watchers.erase(id);
}

VOID ResetPnp() {
  PnpState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.nodes.clear();
  state.interfaces.clear();
  state.watchers.clear();
}

}  // namespace tarnlink::io

using namespace tarnlink::io;

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject,
                                   const GUID* InterfaceClassGuid, PUNICODE_STRING ReferenceString,
                                   PUNICODE_STRING SymbolicLinkName) {
  if (PhysicalDeviceObject == nullptr || InterfaceClassGuid == nullptr ||
      SymbolicLinkName == nullptr)
    return STATUS_INVALID_PARAMETER;
  std::u16string_view reference = tarnlink::io::StringView(ReferenceString);
  if (reference.find(u'\\') != std::u16string_view::npos) return STATUS_INVALID_DEVICE_REQUEST;
  PnpState& state = State();
  std::u16string link;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    auto node = state.nodes.find(PhysicalDeviceObject);
    if (node == state.nodes.end()) return STATUS_INVALID_DEVICE_REQUEST;
    std::u16string mangled = node->second.instanceId;
    for (char16_t& c : mangled)
      if (c == u'\\') c = u'#';
    link = u"\\??\\" + mangled + u"#" + GuidText(*InterfaceClassGuid);
    if (!reference.empty()) link += u"\\" + std::u16string(reference);
    if (FindLink(state, link) == nullptr) {
      DeviceInterfaceInfo info;
      info.interfaceClass = *InterfaceClassGuid;
      info.symbolicLink = link;
      info.devicePath = u"\\\\?\\" + link.substr(4);
      info.referenceString = reference;
      info.device = node->second;
      state.interfaces.push_back(Interface{info, PhysicalDeviceObject});
    }
  }
  const size_t bytes = link.size() * sizeof(WCHAR);
  auto buffer =
      static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), kLinkNameTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  std::memcpy(buffer, link.c_str(), bytes + sizeof(WCHAR));
  *SymbolicLinkName = UNICODE_STRING{static_cast<USHORT>(bytes),
                                     static_cast<USHORT>(bytes + sizeof(WCHAR)), buffer};
  return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
  DeviceInterfaceInfo changed;
  {
    PnpState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    Interface* i = FindLink(state, tarnlink::io::StringView(SymbolicLinkName));
    if (i == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (!Enable) {
      if (!i->info.enabled) return STATUS_OBJECT_NAME_NOT_FOUND;
      Disable(state, *i);
    } else {
      if (i->info.enabled) return STATUS_OBJECT_NAME_EXISTS;
      std::u16string target = NameOf(i->pdo);
      if (target.empty()) return STATUS_INVALID_DEVICE_REQUEST;
      NTSTATUS status = CreateSymbolicLink(i->info.symbolicLink, target, i->info.referenceString);
      if (!NT_SUCCESS(status)) return status;
      if (!i->info.referenceString.empty() && !BaseInUse(state, BaseLink(*i)))
        CreateSymbolicLink(BaseLink(*i), target, u"");
      i->info.enabled = true;
    }
    changed = i->info;
  }
  Announce(changed, Enable != FALSE);
  return STATUS_SUCCESS;
}

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType,
                                 ACCESS_MASK DesiredAccess, PHANDLE DeviceRegKey) {
  if (DeviceRegKey == nullptr) return STATUS_INVALID_PARAMETER;
  *DeviceRegKey = nullptr;
  if (DevInstKeyType != PLUGPLAY_REGKEY_DEVICE) return STATUS_INVALID_PARAMETER;
  DeviceNodeInfo node;
  {
    PnpState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.nodes.find(DeviceObject);
    if (it == state.nodes.end()) return STATUS_INVALID_DEVICE_REQUEST;
    node = it->second;
  }
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  NTSTATUS status = registry.Create(registry.Root(host::RegistryRoot::LocalMachine),
                                    HardwareKeyPath(node) + u"\\Device Parameters", &key, nullptr);
  if (!NT_SUCCESS(status)) return status;
  return InsertKeyHandle(key, DesiredAccess, OBJ_KERNEL_HANDLE, KernelMode, DeviceRegKey);
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
  if (UnicodeString == nullptr || UnicodeString->Buffer == nullptr) return;
  ExFreePool(UnicodeString->Buffer);
  *UnicodeString = UNICODE_STRING{};
}
