#include "device_source.h"

#include "descriptor_file.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_parser.h"
#include "sim/devices/library_device.h"

namespace tarnlink::tool {
namespace {

using sim::devices::UsbSpeed;

// The speed a dump runs at unless asked otherwise: high for a USB 2.0 device.
UsbSpeed DumpSpeed(const std::vector<uint8_t>& bytes) {
  const unsigned bcdUSB = bytes.size() >= 4 ? bytes[2] | (bytes[3] << 8) : 0;
  return bcdUSB >= 0x0200 ? UsbSpeed::High : UsbSpeed::Full;
}

// A device answering with the dump's own bytes, whether or not the simulator understands them:
// what counts is what the driver makes of them. A dump holds no string descriptors, so the
// device has none either.
std::unique_ptr<sim::devices::UsbDevice> DeviceFromDump(const std::vector<uint8_t>& bytes,
                                                        UsbSpeed speed, std::string* error) {
  sim::devices::DumpDefaults defaults;
  defaults.speed = speed;
  defaults.manufacturer.clear();
  defaults.product.clear();
  defaults.serialNumber.clear();
  const sim::devices::ParsedDump dump = sim::devices::ParseDescriptorDump(bytes, defaults);
  if (dump.Ok()) return sim::devices::UacDevice::FromDump(dump, {});
  if (bytes.size() < 18 + 9 || bytes[0] != 18 || bytes[1] != 1) {
    *error = "not a descriptors file (a device descriptor followed by a configuration): " +
             dump.error;
    return nullptr;
  }
  sim::devices::AudioFunctionSpec spec;
  spec.speed = speed;
  sim::devices::DescriptorImage image;
  image.device.assign(bytes.begin(), bytes.begin() + 18);
  image.configuration.assign(bytes.begin() + 18, bytes.end());
  return std::make_unique<sim::devices::UacDevice>(spec, image, sim::devices::DeviceBehaviour{});
}

}  // namespace

bool OpenDevice(const DeviceChoice& choice, PluggedDevice* plugged, std::string* error) {
  if (!choice.descriptorsPath.empty()) {
    std::vector<uint8_t> bytes;
    if (!ReadDescriptorFile(choice.descriptorsPath, &bytes, error)) return false;
    plugged->busSpeed = choice.speed.value_or(DumpSpeed(bytes));
    plugged->device = DeviceFromDump(bytes, plugged->busSpeed, error);
    if (plugged->device == nullptr) {
      *error = choice.descriptorsPath + ": " + *error;
      return false;
    }
  } else if (!choice.libraryPath.empty()) {
    plugged->device = sim::devices::LibraryDevice::Load(choice.libraryPath, error);
    if (plugged->device == nullptr) return false;
    plugged->busSpeed = choice.speed.value_or(plugged->device->MaximumSpeed());
  } else {
    plugged->device = sim::devices::MakeCatalogueDevice(choice.catalogueName);
    if (plugged->device == nullptr) {
      *error = "no catalogue device '" + choice.catalogueName + "'";
      return false;
    }
    plugged->busSpeed = choice.speed.value_or(plugged->device->MaximumSpeed());
  }
  if (plugged->busSpeed == UsbSpeed::High &&
      plugged->device->MaximumSpeed() == UsbSpeed::Full) {
    plugged->notes.push_back(
        "high speed was asked for, but the device is full-speed only and runs at full speed");
  }
  return true;
}

}  // namespace tarnlink::tool
