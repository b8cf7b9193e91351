// Where the device a command plugs in comes from: a catalogue device, a descriptors file or a
// device library, and the bus speed it runs at.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/usb_device.h"

namespace tarnlink::tool {

struct DeviceChoice {
  std::string catalogueName;    // used when neither path is given
  std::string descriptorsPath;  // a sysfs `descriptors` file
  std::string libraryPath;      // a shared library exporting the C device interface
  std::optional<sim::devices::UsbSpeed> speed;  // unset: the fastest the device offers
  bool keepSamples = false;  // a catalogue or descriptors device keeps every sample it receives
  bool loopback = false;     // and has a cable from its output back to its input
};

struct PluggedDevice {
  std::unique_ptr<sim::devices::UsbDevice> device;
  sim::devices::UsbSpeed busSpeed = sim::devices::UsbSpeed::High;
  // What the user should know about how the device was plugged in (a speed it cannot run at).
  std::vector<std::string> notes;
};

// False with *error set (a message for the user) when the device cannot be made.
bool OpenDevice(const DeviceChoice& choice, PluggedDevice* plugged, std::string* error);

}  // namespace tarnlink::tool
