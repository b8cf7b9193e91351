// Plugs one USB device into a fresh simulated machine in virtual time and starts the driver's
// USB function and audio model on it, as the adapter does at device start, without the rest of
// the driver: the descriptor fuzz target's quick way to the model.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sim/devices/usb_device.h"
#include "sim/machine/enumeration.h"
#include "usb_audio_model.h"

namespace tarnlink::fuzz {

struct ProbeStatus {
  NTSTATUS initialize = STATUS_UNSUCCESSFUL;
  NTSTATUS configure = STATUS_UNSUCCESSFUL;  // only tried after a successful Initialize
};

// Runs inspect on a kernel thread with the model once Initialize (and, when it succeeded,
// Configure) returned. False when the machine stopped instead (a bug check or a deadlock);
// *failure then holds the machine's report.
bool ProbeDevice(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                 sim::machine::Binding binding,
                 const std::function<void(CUSBAudioCL&, const ProbeStatus&)>& inspect,
                 std::string* failure);

}  // namespace tarnlink::fuzz
