// A USB device whose behaviour lives in a shared library that exports the C device interface
// (device_abi.h): the host side of that interface. Whatever the library answers is checked as
// a host controller would check a device on the wire.
#pragma once

#include <memory>
#include <string>

#include "sim/devices/device_abi.h"
#include "sim/devices/usb_device.h"

namespace sim::devices {

class LibraryDevice : public UsbDevice {
 public:
  // Loads the library at `path` and creates one device from it; null with *error set when the
  // library cannot be loaded, lacks the entry, speaks another version or makes no device.
  static std::unique_ptr<LibraryDevice> Load(const std::string& path, std::string* error);
  // One device from a table already in memory. `library` keeps the code alive as long as the
  // device (may be null when nothing needs keeping).
  static std::unique_ptr<LibraryDevice> Create(const TarnlinkDeviceFunctions* functions,
                                               std::shared_ptr<void> library, std::string* error);
  ~LibraryDevice() override;
  LibraryDevice(const LibraryDevice&) = delete;
  LibraryDevice& operator=(const LibraryDevice&) = delete;

  UsbSpeed MaximumSpeed() const override;
  void Reset(UsbSpeed busSpeed) override;
  void StartOfFrame(const BusTime& time) override;
  ControlResult Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                        std::span<uint8_t> data) override;
  IsoStatus IsoOut(const BusTime& time, uint8_t endpoint, std::span<const uint8_t> packet) override;
  IsoInResult IsoIn(const BusTime& time, uint8_t endpoint, std::span<uint8_t> buffer) override;

 private:
  LibraryDevice(const TarnlinkDeviceFunctions* functions, TarnlinkDevice* device,
                std::shared_ptr<void> library);

  const TarnlinkDeviceFunctions* functions_;
  TarnlinkDevice* device_;
  std::shared_ptr<void> library_;  // destroyed after device_
};

}  // namespace sim::devices
