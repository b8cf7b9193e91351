// An example device library: the catalogue's default device served through the C device
// interface, for `tarnlink info --device-library` and as a device maker's starting point. A
// maker's own library returns its table the same way, from its own UsbDevice or from plain C
// functions filling a TarnlinkDeviceFunctions.
#include "sim/devices/catalogue.h"
#include "sim/devices/device_export.h"

namespace {

std::unique_ptr<sim::devices::UsbDevice> MakeDefaultDevice() {
  return sim::devices::MakeCatalogueDevice(sim::devices::kDefaultDeviceName);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const TarnlinkDeviceFunctions*
tarnlink_device_functions(void) {
  return sim::devices::ExportDeviceFunctions<MakeDefaultDevice>();
}
