// A device that passes every call on to another device: the base of the test and fuzzing
// devices that watch or change part of what a device answers.
#pragma once

#include <memory>
#include <utility>

#include "sim/devices/usb_device.h"

namespace sim::devices {

class ForwardingDevice : public UsbDevice {
 public:
  explicit ForwardingDevice(std::unique_ptr<UsbDevice> inner) : inner_(std::move(inner)) {}

  UsbSpeed MaximumSpeed() const override { return inner_->MaximumSpeed(); }
  void Reset(UsbSpeed busSpeed) override { inner_->Reset(busSpeed); }
  void StartOfFrame(const BusTime& time) override { inner_->StartOfFrame(time); }
  ControlResult Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                        std::span<uint8_t> data) override {
    return inner_->Control(time, setup, data);
  }
  IsoStatus IsoOut(const BusTime& time, uint8_t endpoint,
                   std::span<const uint8_t> packet) override {
    return inner_->IsoOut(time, endpoint, packet);
  }
  IsoInResult IsoIn(const BusTime& time, uint8_t endpoint, std::span<uint8_t> buffer) override {
    return inner_->IsoIn(time, endpoint, buffer);
  }

  UsbDevice& Inner() { return *inner_; }

 private:
  std::unique_ptr<UsbDevice> inner_;
};

}  // namespace sim::devices
