// The simulated machine as a whole: it installs and loads the Tarnlink driver, plugs a USB
// device into its host controller and plays the Plug and Play manager for it (device node,
// add-device, start, query-remove, surprise removal, remove), and unloads the driver with the
// verifier's check that nothing was left behind.
//
// Every call is made from the host (test) thread; the Plug and Play work runs on a kernel
// thread of the machine, as the system's own PnP thread would run it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/host_kernel.h"
#include "kernel_mode.h"
#include "sim/devices/usb_device.h"
#include "sim/machine/composite_function.h"
#include "sim/usb/host_controller.h"
#include "usb/usb_port.h"

namespace sim::machine {

// The driver's service name, and the key the system keeps for it.
inline constexpr std::u16string_view kServiceName = u"Velmor_USBDAC_AUDIO";

enum class Removal { Orderly, Surprise };

// How the driver package binds a device. Function: as Windows' composite parent driver presents
// an audio device, the audio function on its own (the control interface and its streaming
// interfaces), under an instance id that names its first interface (USB\VID_v&PID_p&MI_nn\...).
// Whole: the device itself, every interface visible. A device without an audio-class control
// interface can only be bound whole.
enum class Binding { Function, Whole };

struct MachineOptions {
  ULONG windowsVersion = NTDDI_WIN10;
  usb::UsbSpeed busSpeed = usb::UsbSpeed::High;
  usb::ControllerIdentity controller;
};

class Machine {
 public:
  // driverEntry is the driver the machine installs under the service name.
  Machine(tarnlink::kernel::HostKernel& kernel, PDRIVER_INITIALIZE driverEntry,
          MachineOptions options = {});
  // Removes a device still plugged and unloads a loaded driver, without the leak check.
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Writes the service key and runs the driver's entry; returns the entry's status.
  NTSTATUS LoadDriver();
  // Removes a device still plugged, unloads the driver, and asks the verifier for leaks: false
  // when something was left behind (the machine has then stopped with the report).
  bool UnloadDriver();

  // Plugs the device into the root port and runs enumeration: device node, add-device and
  // start. Returns the first failure, after which the device has been removed again as
  // Windows removes a device whose start failed.
  NTSTATUS PlugDevice(std::unique_ptr<devices::UsbDevice> device,
                      Binding binding = Binding::Function);
  // The same with a fresh device of the built-in catalogue, bound as the catalogue says;
  // STATUS_NOT_FOUND for an unknown name.
  NTSTATUS PlugCatalogueDevice(std::string_view name);
  // The device leaves the bus; the driver sees a surprise removal. The remove request follows
  // with UnplugDevice, once the test has closed what it holds.
  void SurpriseRemoveDevice();
  // Orderly: query-remove (a refusal cancels the removal and is returned), then remove. After
  // a surprise removal, or with Removal::Surprise, the device goes off the bus first.
  NTSTATUS UnplugDevice(Removal how = Removal::Orderly);

  // Sends a Plug and Play request with the given minor code to the top of the device's stack.
  // IRP_MN_QUERY_CAPABILITIES carries a fresh record, read back with LastCapabilities.
  NTSTATUS SendPnp(UCHAR minor);
  const DEVICE_CAPABILITIES& LastCapabilities() const { return capabilities_; }
  // Device power: a set-power (or query-power) request for a D-state to the top of the stack,
  // as the power manager sends when the device idles, the system sleeps or wakes.
  NTSTATUS SetDevicePower(DEVICE_POWER_STATE state);
  NTSTATUS QueryDevicePower(DEVICE_POWER_STATE state);
  // The system sleeps: top-level windows get WM_POWERBROADCAST PBT_APMSUSPEND, then the device
  // goes to D3. Waking brings the device back to D0, then windows get PBT_APMRESUMEAUTOMATIC.
  // GetDevicePowerState follows the device's D-state throughout.
  NTSTATUS SuspendSystem();
  NTSTATUS ResumeSystem();

  // Values written into the device's hardware key (its "Device Parameters") at every plug,
  // before the driver starts, as an installer or an administrator would have left them.
  void PresetHardwareValue(std::u16string name, ULONG type, std::vector<uint8_t> data);
  void PresetHardwareDword(std::u16string name, ULONG value);
  // A value of the plugged device's hardware key; false when it has none.
  bool HardwareValue(std::u16string_view name, ULONG* type, std::vector<uint8_t>* data) const;

  bool DriverLoaded() const { return driver_ != nullptr; }
  bool DevicePlugged() const { return stack_.pdo != nullptr; }
  PDRIVER_OBJECT Driver() const { return driver_; }
  PDEVICE_OBJECT PhysicalDevice() const { return stack_.pdo; }
  // The device on top of the physical device object (the driver's), or null.
  PDEVICE_OBJECT FunctionDevice() const;
  usb::HostController* Controller() const { return controller_.get(); }
  devices::UsbDevice* Device() const { return device_.get(); }
  // The audio function the driver was given, or null when the device is bound whole.
  const AudioFunctionLayout* Function() const {
    return function_ != nullptr ? &function_->Layout() : nullptr;
  }
  // The plugged device's instance id.
  const std::u16string& InstanceId() const { return instanceId_; }
  tarnlink::kernel::HostKernel& kernel() { return kernel_; }

  // Runs body on a new kernel thread until it ends; false when the machine stopped instead.
  bool RunInKernelThread(const std::function<void()>& body, const char* name = "machine");

 private:
  void RemoveFromBus();
  // Builds a request with fill (on the stack location the top device sees), sends it and waits.
  NTSTATUS SendRequest(const std::function<void(PIO_STACK_LOCATION)>& fill, const char* name);
  NTSTATUS SendDevicePower(UCHAR minor, DEVICE_POWER_STATE state);
  void WriteHardwarePresets();

  struct HardwarePreset {
    std::u16string name;
    ULONG type;
    std::vector<uint8_t> data;
  };

  tarnlink::kernel::HostKernel& kernel_;
  PDRIVER_INITIALIZE driverEntry_;
  MachineOptions options_;
  PDRIVER_OBJECT driver_ = nullptr;
  std::unique_ptr<devices::UsbDevice> device_;
  std::unique_ptr<usb::HostController> controller_;
  std::unique_ptr<CompositeFunction> function_;
  tarnlink::usb::UsbStack stack_;
  bool deviceAdded_ = false;      // add-device created the driver's device
  bool surpriseRemoved_ = false;  // the driver has seen the surprise removal
  DEVICE_CAPABILITIES capabilities_ = {};
  std::vector<HardwarePreset> hardwarePresets_;
  std::u16string instanceId_;  // of the plugged device's node
};

}  // namespace sim::machine
