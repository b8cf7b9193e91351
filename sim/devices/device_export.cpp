#include "sim/devices/device_export.h"

#include "sim/devices/device_abi_records.h"

// The C interface's opaque device: the C++ device it serves.
struct TarnlinkDevice {
  std::unique_ptr<sim::devices::UsbDevice> device;
};

namespace sim::devices {
namespace {

void Destroy(TarnlinkDevice* d) { delete d; }

uint8_t MaximumSpeed(const TarnlinkDevice* d) {
  try {
    return ToAbi(d->device->MaximumSpeed());
  } catch (...) {
    return TARNLINK_SPEED_FULL;
  }
}

void Reset(TarnlinkDevice* d, uint8_t busSpeed) {
  try {
    d->device->Reset(SpeedFromAbi(busSpeed));
  } catch (...) {
  }
}

void StartOfFrame(TarnlinkDevice* d, const TarnlinkBusTime* time) {
  try {
    d->device->StartOfFrame(FromAbi(*time));
  } catch (...) {
  }
}

uint8_t Control(TarnlinkDevice* d, const TarnlinkBusTime* time, const TarnlinkSetupPacket* setup,
                uint8_t* data, uint32_t* transferred) {
  *transferred = 0;
  try {
    const ControlResult result =
        d->device->Control(FromAbi(*time), FromAbi(*setup), std::span<uint8_t>(data, setup->wLength));
    if (result.Stalled()) return TARNLINK_CONTROL_STALL;
    *transferred = static_cast<uint32_t>(result.length);
    return TARNLINK_CONTROL_ACK;
  } catch (...) {
    return TARNLINK_CONTROL_STALL;
  }
}

uint8_t IsoOut(TarnlinkDevice* d, const TarnlinkBusTime* time, uint8_t endpoint,
               const uint8_t* packet, uint32_t length) {
  try {
    return ToAbi(d->device->IsoOut(FromAbi(*time), endpoint,
                                   std::span<const uint8_t>(packet, length)));
  } catch (...) {
    return TARNLINK_ISO_NO_RESPONSE;
  }
}

uint8_t IsoIn(TarnlinkDevice* d, const TarnlinkBusTime* time, uint8_t endpoint, uint8_t* buffer,
              uint32_t capacity, uint32_t* length) {
  *length = 0;
  try {
    const IsoInResult result =
        d->device->IsoIn(FromAbi(*time), endpoint, std::span<uint8_t>(buffer, capacity));
    if (result.status == IsoStatus::Ok) *length = static_cast<uint32_t>(result.length);
    return ToAbi(result.status);
  } catch (...) {
    return TARNLINK_ISO_NO_RESPONSE;
  }
}

}  // namespace

namespace export_detail {

TarnlinkDeviceFunctions DeviceFunctions() {
  return {TARNLINK_DEVICE_ABI_VERSION, sizeof(TarnlinkDeviceFunctions), nullptr, Destroy,
          MaximumSpeed, Reset, StartOfFrame, Control, IsoOut, IsoIn};
}

TarnlinkDevice* Create(DeviceFactory factory) {
  try {
    std::unique_ptr<UsbDevice> device = factory();
    return device != nullptr ? new TarnlinkDevice{std::move(device)} : nullptr;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace export_detail

}  // namespace sim::devices
