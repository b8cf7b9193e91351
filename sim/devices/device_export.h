// The library side of the C device interface (device_abi.h): serves a C++ UsbDevice through the
// plain function table a device library returns from tarnlink_device_functions, e.g.
//
//   std::unique_ptr<sim::devices::UsbDevice> MakeMyDevice();
//   extern "C" const TarnlinkDeviceFunctions* tarnlink_device_functions(void) {
//     return sim::devices::ExportDeviceFunctions<MakeMyDevice>();
//   }
#pragma once

#include <memory>

#include "sim/devices/device_abi.h"
#include "sim/devices/usb_device.h"

namespace sim::devices {

using DeviceFactory = std::unique_ptr<UsbDevice> (*)();

namespace export_detail {
// The functions every exported device shares, create aside.
TarnlinkDeviceFunctions DeviceFunctions();
TarnlinkDevice* Create(DeviceFactory factory);
}  // namespace export_detail

// The table whose create() makes devices with `factory`. No exception leaves the table's
// functions: a device that throws stalls the request, answers no isochronous token, or is not
// created.
template <DeviceFactory factory>
const TarnlinkDeviceFunctions* ExportDeviceFunctions() {
  static const TarnlinkDeviceFunctions table = [] {
    TarnlinkDeviceFunctions t = export_detail::DeviceFunctions();
    t.create = [] { return export_detail::Create(factory); };
    return t;
  }();
  return &table;
}

}  // namespace sim::devices
