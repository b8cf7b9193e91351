#include "discovery.h"

#include <algorithm>
#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "private_queries.h"
#include "wide_text.h"

namespace {

constexpr DWORD kDetailBytes = 528;

// A device registry property as terminated text of at most units - 1 code units.
bool ReadProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, WCHAR* text,
                  DWORD units) {
  std::memset(text, 0, units * sizeof(WCHAR));
  return SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                           reinterpret_cast<PBYTE>(text),
                                           (units - 1) * sizeof(WCHAR), nullptr) != FALSE;
}

// The interface's private path (lower case, cut at the wave reference, \asio appended), or
// false when it is not the kernel driver's wave filter.
bool PrivatePathOf(const WCHAR* interfacePath, WCHAR (&path)[kPathUnits + 1]) {
  WCHAR lowered[kPathUnits + 1] = {};
  CopyText(lowered, interfacePath, kPathUnits);
  LowerCaseText(lowered);
  WCHAR reference[64] = {};
  CopyText(reference, kWaveReference, 63);
  LowerCaseText(reference);
  const WCHAR* cut = FindText(lowered, reference);
  if (cut == nullptr) return false;
  const size_t kept = static_cast<size_t>(cut - lowered);
  const size_t suffix = TextLength(kPrivateSuffix);
  if (kept + suffix > kPathUnits) return false;
  std::memset(path, 0, sizeof path);
  std::memcpy(path, lowered, kept * sizeof(WCHAR));
  std::memcpy(path + kept, kPrivateSuffix, suffix * sizeof(WCHAR));
  return true;
}

// Asks the device for what the list shows of it; false drops it.
bool QueryCapabilities(DeviceListEntry* entry) {
  return QueryFixed(entry->privatePath, IOCTL_ASIO_GET_RATE_RANGE, &entry->rateRange,
                    sizeof entry->rateRange) &&
         QueryFixed(entry->privatePath, IOCTL_ASIO_GET_DSD_NATIVE, &entry->dsdNative,
                    sizeof entry->dsdNative) &&
         QueryProductString(entry->privatePath, entry->productString, kProductStringUnits) &&
         QueryFixed(entry->privatePath, IOCTL_ASIO_GET_BUS_SPEED, &entry->busSpeed,
                    sizeof entry->busSpeed);
}

// The entry of one interface of the set, or nullptr when it is not one of ours.
std::unique_ptr<DeviceListEntry> EntryOf(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
  alignas(8) BYTE buffer[kDetailBytes] = {};
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, sizeof buffer,
                                        nullptr, &device))
    return nullptr;
  WCHAR service[kDescriptionUnits + 1];
  if (!ReadProperty(set, &device, SPDRP_SERVICE, service, kDescriptionUnits + 1) ||
      !SameText(service, kKernelServiceName))
    return nullptr;
  auto entry = std::make_unique<DeviceListEntry>();
  *entry = {};
  if (!PrivatePathOf(detail->DevicePath, entry->privatePath)) return nullptr;
  if (!ReadProperty(set, &device, SPDRP_DEVICEDESC, entry->description, kDescriptionUnits + 1) ||
      !SetupDiGetDeviceInstanceIdW(set, &device, entry->instanceId, kInstanceIdUnits + 1,
                                   nullptr))
    return nullptr;
  entry->instanceId[kInstanceIdUnits] = 0;
  if (!QueryCapabilities(entry.get())) {
    AsioTrace(kTraceDeviceDropped, 0);
    return nullptr;
  }
  return entry;
}

bool ProductOrder(const std::unique_ptr<DeviceListEntry>& a,
                  const std::unique_ptr<DeviceListEntry>& b) {
  return TextBefore(a->productString, b->productString);
}

}  // namespace

void DiscoverDevices(DeviceList* list) {
  list->clear();
  HDEVINFO set = SetupDiGetClassDevsW(&kAudioInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    AsioTrace(kTraceDiscoveryFailed, GetLastError());
    return;
  }
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD index = 0;
       SetupDiEnumDeviceInterfaces(set, nullptr, &kAudioInterfaceClass, index, &data); ++index) {
    std::unique_ptr<DeviceListEntry> entry = EntryOf(set, &data);
    if (entry != nullptr) list->push_back(std::move(entry));
  }
  SetupDiDestroyDeviceInfoList(set);
  std::stable_sort(list->begin(), list->end(), ProductOrder);
}
