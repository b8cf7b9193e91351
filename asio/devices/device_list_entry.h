// One device found by discovery, as the ASIO driver and the control panel list it.
#pragma once

#include <memory>
#include <vector>

#include "asio_protocol.h"

inline constexpr DWORD kInstanceIdUnits = 260;
inline constexpr DWORD kPathUnits = 260;
inline constexpr DWORD kDescriptionUnits = 128;
inline constexpr DWORD kProductStringUnits = 128;

struct DeviceListEntry {
  WCHAR instanceId[kInstanceIdUnits + 1];
  WCHAR privatePath[kPathUnits + 1];  // the wave filter's interface path with \asio appended
  WCHAR description[kDescriptionUnits + 1];
  alignas(ULONG) RateRange rateRange;  // aligned, unlike the packed wire record
  ULONG dsdNative;
  WCHAR productString[kProductStringUnits];
  ULONG busSpeed;  // 2 high speed, 1 full speed
};

// Sorted by product string, code unit by code unit.
using DeviceList = std::vector<std::unique_ptr<DeviceListEntry>>;
