// What the hub learns of a device at enumeration, before any driver runs: its device
// descriptor and the configuration the composite parent splits; and how the device's driver is
// bound to it.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/devices/usb_device.h"
#include "usb/usbspec.h"

namespace sim::machine {

// How the driver package binds a device. Function: as Windows' composite parent driver presents
// an audio device, the audio function on its own (the control interface and its streaming
// interfaces), under an instance id that names its first interface (USB\VID_v&PID_p&MI_nn\...).
// Whole: the device itself, every interface visible. A device without an audio-class control
// interface can only be bound whole.
enum class Binding { Function, Whole };

USB_DEVICE_DESCRIPTOR ReadDeviceDescriptor(devices::UsbDevice& device);
// The whole configuration descriptor; empty when the device does not give it.
std::vector<uint8_t> ReadConfiguration(devices::UsbDevice& device);

}  // namespace sim::machine
