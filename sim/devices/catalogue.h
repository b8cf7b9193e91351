// The built-in devices, each under a stable name, with what it exercises in a host.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devices/function_spec.h"
#include "sim/devices/uac_device.h"

namespace sim::devices {

inline constexpr std::string_view kDefaultDeviceName = "velmor-dac";

struct CatalogueEntry {
  std::string name;
  std::string exercises;
  AudioFunctionSpec spec;
  DeviceBehaviour behaviour;
  // The driver package binds the device whole rather than its audio function: the devices
  // whose every interface the driver configures.
  bool boundWhole = false;
};

const std::vector<CatalogueEntry>& Catalogue();
const CatalogueEntry* FindCatalogueEntry(std::string_view name);
// A fresh device of the named entry, or null for an unknown name.
std::unique_ptr<UacDevice> MakeCatalogueDevice(std::string_view name);

}  // namespace sim::devices
