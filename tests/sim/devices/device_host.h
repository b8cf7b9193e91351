// A minimal host for driving simulated devices in tests: control requests with byte buffers
// and a bus clock that sends SOF before each (micro)frame's traffic.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/devices/uac_device.h"

namespace sim::devices::testing {

struct Reply {
  bool stalled = true;
  std::vector<uint8_t> data;
};

class DeviceHost {
 public:
  explicit DeviceHost(UsbDevice& device) : device_(device) {
    time_.speed = device.MaximumSpeed();
    device_.Reset(time_.speed);
  }

  Reply In(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    std::vector<uint8_t> buffer(length);
    const ControlResult r =
        device_.Control(time_, Setup(type, request, value, index, length), buffer);
    buffer.resize(r.length);
    return {r.Stalled(), buffer};
  }
  bool Out(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
           std::vector<uint8_t> data = {}) {
    const ControlResult r = device_.Control(
        time_, Setup(type, request, value, index, static_cast<uint16_t>(data.size())), data);
    return !r.Stalled();
  }
  // Address and configuration 1, as enumeration leaves a device.
  void Configure() {
    Out(0x00, USB_REQUEST_SET_ADDRESS, 5, 0);
    Out(0x00, USB_REQUEST_SET_CONFIGURATION, 1, 0);
  }
  bool SetInterface(uint8_t number, uint8_t alt) {
    return Out(0x01, USB_REQUEST_SET_INTERFACE, alt, number);
  }
  // Runs the bus for `ticks` (micro)frames with nothing but SOF.
  void Idle(uint64_t ticks) {
    for (uint64_t i = 0; i < ticks; ++i) Tick();
  }
  void Tick() {
    ++time_.tick;
    device_.StartOfFrame(time_);
  }
  const BusTime& Time() const { return time_; }

 private:
  static USB_DEFAULT_PIPE_SETUP_PACKET Setup(uint8_t type, uint8_t request, uint16_t value,
                                             uint16_t index, uint16_t length) {
    USB_DEFAULT_PIPE_SETUP_PACKET s{};
    s.bmRequestType.B = type;
    s.bRequest = request;
    s.wValue.W = value;
    s.wIndex.W = index;
    s.wLength = length;
    return s;
  }

  UsbDevice& device_;
  BusTime time_;
};

inline std::vector<uint8_t> Le(uint32_t value, size_t bytes) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}

}  // namespace sim::devices::testing
