#include "sim/machine/enumeration.h"

#include <algorithm>
#include <span>

namespace sim::machine {
namespace {

USB_DEFAULT_PIPE_SETUP_PACKET GetDescriptorSetup(UCHAR type, USHORT length) {
  USB_DEFAULT_PIPE_SETUP_PACKET setup = {};
  setup.bmRequestType.B = 0x80;
  setup.bRequest = USB_REQUEST_GET_DESCRIPTOR;
  setup.wValue.W = static_cast<USHORT>(type << 8);
  setup.wLength = length;
  return setup;
}

}  // namespace

USB_DEVICE_DESCRIPTOR ReadDeviceDescriptor(devices::UsbDevice& device) {
  USB_DEVICE_DESCRIPTOR descriptor = {};
  device.Control(devices::BusTime{}, GetDescriptorSetup(USB_DEVICE_DESCRIPTOR_TYPE,
                                                        sizeof(descriptor)),
                 std::span<uint8_t>(reinterpret_cast<uint8_t*>(&descriptor), sizeof(descriptor)));
  return descriptor;
}

std::vector<uint8_t> ReadConfiguration(devices::UsbDevice& device) {
  std::vector<uint8_t> header(sizeof(USB_CONFIGURATION_DESCRIPTOR));
  devices::ControlResult r = device.Control(
      devices::BusTime{},
      GetDescriptorSetup(USB_CONFIGURATION_DESCRIPTOR_TYPE, static_cast<USHORT>(header.size())),
      header);
  if (r.Stalled() || r.length < header.size()) return {};
  std::vector<uint8_t> config(static_cast<size_t>(header[2] | header[3] << 8));
  r = device.Control(devices::BusTime{},
                     GetDescriptorSetup(USB_CONFIGURATION_DESCRIPTOR_TYPE,
                                        static_cast<USHORT>(config.size())),
                     config);
  config.resize(r.Stalled() ? 0 : std::min(r.length, config.size()));
  return config;
}

}  // namespace sim::machine
