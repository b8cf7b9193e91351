// Plugs one USB device into a fresh simulated machine in virtual time and starts the driver's
// USB function and audio model on it, as the adapter does at device start, so that a caller can
// look at how the driver sees the device. Used by `tarnlink info` and by the descriptor fuzz
// target.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/devices/usb_device.h"
#include "sim/machine/enumeration.h"
#include "usb_audio_model.h"

namespace tarnlink::tool {

struct ProbeStatus {
  NTSTATUS initialize = STATUS_UNSUCCESSFUL;
  NTSTATUS configure = STATUS_UNSUCCESSFUL;  // only tried after a successful Initialize
  // The trace points recorded up to the end of Initialize, oldest first: the driver's own
  // account of why it refused a device.
  std::vector<uint32_t> tracePoints;
};

// Runs inspect on a kernel thread with the model once Initialize (and, when it succeeded,
// Configure) returned. False when the machine stopped instead (a bug check or a deadlock);
// *failure then holds the machine's report.
bool ProbeDevice(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                 sim::machine::Binding binding,
                 const std::function<void(CUSBAudioCL&, const ProbeStatus&)>& inspect,
                 std::string* failure);

// How the driver package binds the device: whole when its quirk has every interface
// configured, otherwise its audio function, as Windows' composite parent presents it.
sim::machine::Binding PackageBinding(sim::devices::UsbDevice& device);

}  // namespace tarnlink::tool
