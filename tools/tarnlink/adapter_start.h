// Runs the driver's whole device start on one USB device: a fresh simulated machine in virtual
// time loads the driver, presets the device's hardware key, plugs the device into a host
// controller of the chosen identity and starts it as the Plug and Play manager would, so that a
// caller can look at the started adapter. Afterwards the device is removed and the driver
// unloaded with the verifier's leak check.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kernel/host_kernel.h"
#include "sim/devices/usb_device.h"
#include "sim/machine/audio_function.h"
#include "sim/machine/enumeration.h"
#include "sim/usb/host_controller.h"
#include "usb_audio_adapter.h"

namespace tarnlink::tool {

// What the machine holds before the device is plugged.
struct StartSettings {
  // REG_DWORD values of the device's hardware key, as an installer or administrator left them.
  std::vector<std::pair<std::u16string, uint32_t>> registry;
  sim::usb::ControllerIdentity controller;
};

struct StartOutcome {
  NTSTATUS status = STATUS_UNSUCCESSFUL;  // of the start request
  // The trace points recorded up to the end of the start, oldest first: the driver's own account
  // of why it refused a device.
  std::vector<kernel::TraceEntry> trace;
  // Bound as its audio function: the interfaces of the device's other functions, which the
  // driver never sees.
  std::vector<sim::machine::InterfaceSummary> otherFunctions;
};

// Runs inspect on a kernel thread once the start returned: with the adapter when it succeeded,
// with null when it failed (the machine has then removed the device again). False when the
// machine stopped instead (a bug check, a deadlock or something left behind at unload);
// *failure then holds the machine's report.
bool StartAdapter(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                  sim::machine::Binding binding, const StartSettings& settings,
                  const std::function<void(UsbAudioAdapter*, const StartOutcome&)>& inspect,
                  std::string* failure);

// How the driver package binds the device: whole when its quirk has every interface
// configured, otherwise its audio function, as Windows' composite parent presents it.
sim::machine::Binding PackageBinding(sim::devices::UsbDevice& device);

}  // namespace tarnlink::tool
