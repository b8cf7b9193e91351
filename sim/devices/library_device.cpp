#include "sim/devices/library_device.h"

#include <dlfcn.h>

#include <algorithm>

#include "sim/devices/device_abi_records.h"

namespace sim::devices {
namespace {

// A table this host can call: the version it was built for and every function present.
bool Usable(const TarnlinkDeviceFunctions* f, std::string* error) {
  if (f == nullptr) {
    *error = "the library returned no function table";
    return false;
  }
  if (f->abi_version != TARNLINK_DEVICE_ABI_VERSION) {
    *error = "the library speaks device interface version " + std::to_string(f->abi_version) +
             ", this host version " + std::to_string(TARNLINK_DEVICE_ABI_VERSION);
    return false;
  }
  if (f->size < sizeof(TarnlinkDeviceFunctions)) {
    *error = "the library's function table is shorter than version " +
             std::to_string(TARNLINK_DEVICE_ABI_VERSION) + " defines";
    return false;
  }
  if (f->create == nullptr || f->destroy == nullptr || f->maximum_speed == nullptr ||
      f->reset == nullptr || f->start_of_frame == nullptr || f->control == nullptr ||
      f->iso_out == nullptr || f->iso_in == nullptr) {
    *error = "the library's function table lacks a function";
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<LibraryDevice> LibraryDevice::Load(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the library's symbols (its own copy of the simulator, say) to itself.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "cannot load " + path;
    return nullptr;
  }
  std::shared_ptr<void> library(handle, [](void* h) { dlclose(h); });
  auto entry = reinterpret_cast<TarnlinkDeviceEntry>(dlsym(handle, TARNLINK_DEVICE_ENTRY));
  if (entry == nullptr) {
    *error = path + " exports no " + TARNLINK_DEVICE_ENTRY;
    return nullptr;
  }
  return Create(entry(), std::move(library), error);
}

std::unique_ptr<LibraryDevice> LibraryDevice::Create(const TarnlinkDeviceFunctions* functions,
                                                     std::shared_ptr<void> library,
                                                     std::string* error) {
  if (!Usable(functions, error)) return nullptr;
  TarnlinkDevice* device = functions->create();
  if (device == nullptr) {
    *error = "the library made no device";
    return nullptr;
  }
  return std::unique_ptr<LibraryDevice>(new LibraryDevice(functions, device, std::move(library)));
}

LibraryDevice::LibraryDevice(const TarnlinkDeviceFunctions* functions, TarnlinkDevice* device,
                             std::shared_ptr<void> library)
    : functions_(functions), device_(device), library_(std::move(library)) {}

LibraryDevice::~LibraryDevice() { functions_->destroy(device_); }

UsbSpeed LibraryDevice::MaximumSpeed() const {
  return SpeedFromAbi(functions_->maximum_speed(device_));
}

void LibraryDevice::Reset(UsbSpeed busSpeed) { functions_->reset(device_, ToAbi(busSpeed)); }

void LibraryDevice::StartOfFrame(const BusTime& time) {
  const TarnlinkBusTime t = ToAbi(time);
  functions_->start_of_frame(device_, &t);
}

ControlResult LibraryDevice::Control(const BusTime& time,
                                     const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                     std::span<uint8_t> data) {
  const TarnlinkBusTime t = ToAbi(time);
  const TarnlinkSetupPacket s = ToAbi(setup);
  uint32_t transferred = 0;
  const uint8_t status = functions_->control(device_, &t, &s, data.data(), &transferred);
  if (status != TARNLINK_CONTROL_ACK) return ControlResult::Stall();
  // A device cannot send more than the host asked for, whatever it claims.
  const size_t room = std::min<size_t>(data.size(), setup.wLength);
  return ControlResult::Ack(std::min<size_t>(transferred, room));
}

IsoStatus LibraryDevice::IsoOut(const BusTime& time, uint8_t endpoint,
                                std::span<const uint8_t> packet) {
  const TarnlinkBusTime t = ToAbi(time);
  return IsoStatusFromAbi(functions_->iso_out(device_, &t, endpoint, packet.data(),
                                              static_cast<uint32_t>(packet.size())));
}

IsoInResult LibraryDevice::IsoIn(const BusTime& time, uint8_t endpoint,
                                 std::span<uint8_t> buffer) {
  const TarnlinkBusTime t = ToAbi(time);
  uint32_t length = 0;
  const IsoStatus status = IsoStatusFromAbi(functions_->iso_in(
      device_, &t, endpoint, buffer.data(), static_cast<uint32_t>(buffer.size()), &length));
  if (status != IsoStatus::Ok) return {status, 0};
  // Claiming more than the buffer holds is babble on the wire.
  if (length > buffer.size()) return {IsoStatus::Babble, 0};
  return {IsoStatus::Ok, length};
}

}  // namespace sim::devices
