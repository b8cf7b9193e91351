#include "adapter_start.h"

#include "dispatch_context.h"
#include "driver_entry.h"
#include "sim/machine/machine.h"
#include "usb_audio_quirks.h"

namespace tarnlink::tool {
namespace {

std::string StopReport(kernel::HostKernel& kernel, const char* otherwise) {
  const kernel::StopInfo* stop = kernel.Stop();
  return stop != nullptr ? stop->report : otherwise;
}

}  // namespace

sim::machine::Binding PackageBinding(sim::devices::UsbDevice& device) {
  const USB_DEVICE_DESCRIPTOR descriptor = sim::machine::ReadDeviceDescriptor(device);
  return LookupAudioQuirks(descriptor.idVendor, descriptor.idProduct).configureAllInterfaces
             ? sim::machine::Binding::Whole
             : sim::machine::Binding::Function;
}

bool StartAdapter(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                  sim::machine::Binding binding, const StartSettings& settings,
                  const std::function<void(UsbAudioAdapter*, const StartOutcome&)>& inspect,
                  std::string* failure) {
  kernel::HostKernel kernel;
  sim::machine::MachineOptions options;
  options.busSpeed = busSpeed;
  options.controller = settings.controller;
  sim::machine::Machine machine(kernel, DriverEntry, options);
  if (!NT_SUCCESS(machine.LoadDriver())) {
    *failure = StopReport(kernel, "the driver did not load");
    return false;
  }
  for (const auto& [name, value] : settings.registry) machine.PresetHardwareDword(name, value);

  StartOutcome outcome;
  outcome.status = machine.PlugDevice(std::move(device), binding);
  outcome.trace = kernel.Trace();
  if (const sim::machine::AudioFunctionLayout* function = machine.Function()) {
    for (const sim::machine::InterfaceSummary& i : function->allInterfaces) {
      if (!function->Holds(i.number)) outcome.otherFunctions.push_back(i);
    }
  }
  if (kernel.Stopped()) {
    *failure = StopReport(kernel, "the machine stopped during the start");
    return false;
  }
  UsbAudioAdapter* adapter =
      NT_SUCCESS(outcome.status)
          ? static_cast<UsbAudioAdapter*>(GetDispatchContext(machine.FunctionDevice())->Adapter)
          : nullptr;
  if (!machine.RunInKernelThread([&] { inspect(adapter, outcome); }, "inspect") ||
      !machine.UnloadDriver()) {
    *failure = StopReport(kernel, "the machine stopped");
    return false;
  }
  return true;
}

}  // namespace tarnlink::tool
