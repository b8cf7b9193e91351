#include "model_probe.h"

#include "kernel/host_kernel.h"
#include "sim/machine/function_device.h"

namespace tarnlink::fuzz {
namespace {

// The adapter starts the function with this many IRPs for its transfers.
constexpr ULONG kIrpCount = 16;

}  // namespace

bool ProbeDevice(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                 sim::machine::Binding binding,
                 const std::function<void(CUSBAudioCL&, const ProbeStatus&)>& inspect,
                 std::string* failure) {
  kernel::HostKernel machine;
  sim::machine::FunctionDevice port;
  bool built = false;
  PKTHREAD thread = machine.StartThread(
      [&] {
        built = port.Build(std::move(device), busSpeed, binding);
        if (built) {
          CUSBAudioCL* model = new CUSBAudioCL();
          if (model != nullptr) {
            ProbeStatus status;
            status.initialize = model->Initialize(port.pdo, port.fdo, kIrpCount);
            if (NT_SUCCESS(status.initialize)) status.configure = model->Configure();
            inspect(*model, status);
            delete model;
          }
        }
        port.TearDown();
      },
      "probe");
  const bool ran = machine.RunUntilThreadsEnd({thread});
  if (!ran || !built) {
    if (failure != nullptr) {
      const kernel::StopInfo* stop = machine.Stop();
      *failure = stop != nullptr ? stop->report : "the USB stack could not be built";
    }
    return false;
  }
  return true;
}

}  // namespace tarnlink::fuzz
