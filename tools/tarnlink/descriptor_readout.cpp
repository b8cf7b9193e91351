#include "descriptor_readout.h"

namespace tarnlink::tool {
namespace {

constexpr size_t kDeviceDescriptorBytes = 18;
constexpr size_t kConfigurationHeaderBytes = 9;

// GET_DESCRIPTOR(type, index 0) for `length` bytes; what the device answered.
bool GetDescriptor(sim::devices::UsbDevice& device, sim::devices::UsbSpeed speed, uint8_t type,
                   uint16_t length, std::vector<uint8_t>* answer) {
  USB_DEFAULT_PIPE_SETUP_PACKET setup = {};
  setup.bmRequestType.B = 0x80;  // device to host, standard, device
  setup.bRequest = USB_REQUEST_GET_DESCRIPTOR;
  setup.wValue.W = static_cast<USHORT>(type << 8);
  setup.wLength = length;
  answer->assign(length, 0);
  sim::devices::BusTime time;
  time.speed = speed;
  const sim::devices::ControlResult result = device.Control(time, setup, *answer);
  if (result.Stalled()) return false;
  answer->resize(result.length < length ? result.length : length);
  return answer->size() >= 2 && (*answer)[1] == type;
}

}  // namespace

bool ReadDescriptors(sim::devices::UsbDevice& device, sim::devices::UsbSpeed speed,
                     std::vector<uint8_t>* bytes, std::string* error) {
  device.Reset(speed);
  std::vector<uint8_t> head;
  if (!GetDescriptor(device, speed, USB_DEVICE_DESCRIPTOR_TYPE, kDeviceDescriptorBytes, bytes) ||
      bytes->size() != kDeviceDescriptorBytes) {
    *error = "the device did not answer with its device descriptor";
    return false;
  }
  if (!GetDescriptor(device, speed, USB_CONFIGURATION_DESCRIPTOR_TYPE,
                     kConfigurationHeaderBytes, &head) ||
      head.size() != kConfigurationHeaderBytes) {
    *error = "the device did not answer with its configuration descriptor";
    return false;
  }
  const uint16_t total = static_cast<uint16_t>(head[2] | (head[3] << 8));
  std::vector<uint8_t> configuration;
  if (total < kConfigurationHeaderBytes ||
      !GetDescriptor(device, speed, USB_CONFIGURATION_DESCRIPTOR_TYPE, total, &configuration) ||
      configuration.size() != total) {
    *error = "the device did not answer with the " + std::to_string(total) +
             " bytes its configuration descriptor announces";
    return false;
  }
  bytes->insert(bytes->end(), configuration.begin(), configuration.end());
  return true;
}

}  // namespace tarnlink::tool
