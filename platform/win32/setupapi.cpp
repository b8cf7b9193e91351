// Device information sets: a snapshot of the device interfaces of one class and of the device
// nodes they belong to, taken when the set is made.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "kernel/pnp_host.h"
#include "kernel/registry_types.h"
#include "win32/nt_error.h"
#include "win32/setupapi.h"
#include "win32/win32_state.h"

using tarnlink::win32::FailWithError;

namespace tarnlink::win32 {

struct DeviceInfoSet {
  GUID interfaceClass{};
  std::vector<io::DeviceInterfaceInfo> interfaces;
  std::vector<io::DeviceNodeInfo> devices;  // DevInst is the index + 1
  std::vector<size_t> deviceOf;             // per interface
};

}  // namespace tarnlink::win32

namespace {

using tarnlink::win32::DeviceInfoSet;

// The set behind a handle, or null (with ERROR_INVALID_HANDLE) for anything else.
DeviceInfoSet* SetOf(HDEVINFO handle) {
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  auto it = state.deviceInfoSets.find(handle);
  if (it == state.deviceInfoSets.end()) {
    FailWithError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

// The device a SP_DEVINFO_DATA names in the set, or null with the last error.
const tarnlink::io::DeviceNodeInfo* DeviceOf(DeviceInfoSet* set, PSP_DEVINFO_DATA data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    FailWithError(ERROR_INVALID_USER_BUFFER);
    return nullptr;
  }
  if (data->DevInst == 0 || data->DevInst > set->devices.size()) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &set->devices[data->DevInst - 1];
}

void FillDeviceData(const DeviceInfoSet& set, size_t device, PSP_DEVINFO_DATA data) {
  data->ClassGuid = set.interfaceClass;
  data->DevInst = static_cast<DWORD>(device + 1);
  data->Reserved = device;
}

// Copies text with its terminator when Capacity (bytes) allows; Required gets the bytes needed.
BOOL CopyText(const std::u16string& text, PBYTE buffer, DWORD capacity, PDWORD required) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
  if (required != nullptr) *required = bytes;
  if (buffer == nullptr || capacity < bytes) return FailWithError(ERROR_INSUFFICIENT_BUFFER);
  auto* out = reinterpret_cast<WCHAR*>(buffer);
  text.copy(out, text.size());
  out[text.size()] = 0;
  return TRUE;
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR, HWND, DWORD Flags) {
  // Only interface classes are enumerated here.
  if (ClassGuid == nullptr || (Flags & DIGCF_DEVICEINTERFACE) == 0 ||
      (Flags & DIGCF_ALLCLASSES) != 0) {
    FailWithError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_shared<DeviceInfoSet>();
  set->interfaceClass = *ClassGuid;
  set->interfaces =
      tarnlink::io::EnumerateDeviceInterfaces(*ClassGuid, (Flags & DIGCF_PRESENT) != 0);
  for (const auto& info : set->interfaces) {
    size_t device = 0;
    while (device < set->devices.size() &&
           set->devices[device].instanceId != info.device.instanceId)
      ++device;
    if (device == set->devices.size()) set->devices.push_back(info.device);
    set->deviceOf.push_back(device);
  }
  HDEVINFO handle = set.get();
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  state.deviceInfoSets[handle] = std::move(set);
  return handle;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  auto* set = SetOf(DeviceInfoSet);
  if (set == nullptr) return FALSE;
  if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return FailWithError(ERROR_INVALID_PARAMETER);
  // The members of the class, optionally only those of one device, in order.
  DWORD member = 0;
  for (size_t i = 0; i < set->interfaces.size(); ++i) {
    if (!(set->interfaces[i].interfaceClass == *InterfaceClassGuid)) continue;
    if (DeviceInfoData != nullptr && DeviceInfoData->DevInst != set->deviceOf[i] + 1) continue;
    if (member++ != MemberIndex) continue;
    DeviceInterfaceData->InterfaceClassGuid = *InterfaceClassGuid;
    DeviceInterfaceData->Flags = set->interfaces[i].enabled ? SPINT_ACTIVE : 0;
    DeviceInterfaceData->Reserved = i;
    return TRUE;
  }
  return FailWithError(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
  auto* set = SetOf(DeviceInfoSet);
  if (set == nullptr) return FALSE;
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      DeviceInterfaceData->Reserved >= set->interfaces.size())
    return FailWithError(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceDetailData != nullptr &&
      DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
    return FailWithError(ERROR_INVALID_USER_BUFFER);
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
    return FailWithError(ERROR_INVALID_USER_BUFFER);
  const size_t index = DeviceInterfaceData->Reserved;
  const std::u16string& path = set->interfaces[index].devicePath;
  const auto required = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                           (path.size() + 1) * sizeof(WCHAR));
  if (RequiredSize != nullptr) *RequiredSize = required;
  if (DeviceInfoData != nullptr) FillDeviceData(*set, set->deviceOf[index], DeviceInfoData);
  if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < required)
    return FailWithError(ERROR_INSUFFICIENT_BUFFER);
  path.copy(DeviceInterfaceDetailData->DevicePath, path.size());
  DeviceInterfaceDetailData->DevicePath[path.size()] = 0;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  auto* set = SetOf(DeviceInfoSet);
  if (set == nullptr) return FALSE;
  const tarnlink::io::DeviceNodeInfo* device = DeviceOf(set, DeviceInfoData);
  if (device == nullptr) return FALSE;
  const std::u16string* value = nullptr;
  switch (Property) {
    case SPDRP_DEVICEDESC:
    case SPDRP_FRIENDLYNAME:
      value = &device->description;
      break;
    case SPDRP_SERVICE:
      value = &device->serviceName;
      break;
    default:
      return FailWithError(ERROR_INVALID_DATA);
  }
  if (PropertyRegDataType != nullptr) *PropertyRegDataType = REG_SZ;
  return CopyText(*value, PropertyBuffer, PropertyBufferSize, RequiredSize);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
  auto* set = SetOf(DeviceInfoSet);
  if (set == nullptr) return FALSE;
  const tarnlink::io::DeviceNodeInfo* device = DeviceOf(set, DeviceInfoData);
  if (device == nullptr) return FALSE;
  // Sizes here count characters.
  DWORD bytes = 0;
  const BOOL copied = CopyText(device->instanceId, reinterpret_cast<PBYTE>(DeviceInstanceId),
                               DeviceInstanceIdSize * sizeof(WCHAR), &bytes);
  if (RequiredSize != nullptr) *RequiredSize = bytes / sizeof(WCHAR);
  return copied;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  if (state.deviceInfoSets.erase(DeviceInfoSet) == 0) return FailWithError(ERROR_INVALID_HANDLE);
  return TRUE;
}
