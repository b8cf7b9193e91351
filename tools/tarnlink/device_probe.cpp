#include "device_probe.h"

#include "kernel/driver_object_host.h"
#include "kernel/host_kernel.h"
#include "sim/usb/host_controller.h"
#include "usb/usb_port.h"

namespace tarnlink::tool {
namespace {

// The USB stack below the function: the platform's PDO over the simulated host controller.
class ProbePort : public usb::UsbPortBackend {
 public:
  ProbePort(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed speed)
      : device_(std::move(device)), controller_(speed) {
    controller_.Attach(device_.get());
  }
  NTSTATUS SubmitUrb(PURB urb, usb::PortUrbCompletion completion, void* context) override {
    return controller_.SubmitUrb(urb, completion, context);
  }
  ULONG CurrentFrame() const override { return controller_.CurrentFrame(); }
  bool DeviceHighSpeed() const override { return controller_.DeviceHighSpeed(); }
  USB_CONTROLLER_INFO_0 ControllerInfo() const override { return controller_.ControllerInfo(); }

  // The stack and a function device attached above its PDO; false when one could not be made.
  bool Build() {
    if (!NT_SUCCESS(usb::CreateUsbStack(this, &stack_))) return false;
    if (!NT_SUCCESS(IoHostCreateDriver(u"tarnlinkprobe", &driver_))) return false;
    if (!NT_SUCCESS(IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &fdo_))) {
      return false;
    }
    IoAttachDeviceToDeviceStack(fdo_, stack_.pdo);
    fdo_->Flags &= ~DO_DEVICE_INITIALIZING;
    return true;
  }
  void TearDown() {
    if (fdo_ != nullptr) {
      IoDetachDevice(stack_.pdo);
      IoDeleteDevice(fdo_);
      fdo_ = nullptr;
    }
    if (driver_ != nullptr) IoHostUnloadDriver(driver_);
    driver_ = nullptr;
    usb::DeleteUsbStack(&stack_);
  }
  PDEVICE_OBJECT pdo() const { return stack_.pdo; }
  PDEVICE_OBJECT fdo() const { return fdo_; }

 private:
  std::unique_ptr<sim::devices::UsbDevice> device_;
  sim::usb::HostController controller_;
  usb::UsbStack stack_;
  PDRIVER_OBJECT driver_ = nullptr;
  PDEVICE_OBJECT fdo_ = nullptr;
};

// The adapter starts the function with this many IRPs for its transfers.
constexpr ULONG kIrpCount = 16;

}  // namespace

bool ProbeDevice(std::unique_ptr<sim::devices::UsbDevice> device, sim::devices::UsbSpeed busSpeed,
                 const std::function<void(CUSBAudioCL&, const ProbeStatus&)>& inspect,
                 std::string* failure) {
  kernel::HostKernel machine;
  ProbePort port(std::move(device), busSpeed);
  bool built = false;
  PKTHREAD thread = machine.StartThread(
      [&] {
        built = port.Build();
        if (built) {
          CUSBAudioCL* model = new CUSBAudioCL();
          if (model != nullptr) {
            ProbeStatus status;
            status.initialize = model->Initialize(port.pdo(), port.fdo(), kIrpCount);
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

}  // namespace tarnlink::tool
