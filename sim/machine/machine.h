// The simulated machine as a whole: it installs the driver package and loads the Tarnlink
// driver, plugs USB devices into its root ports (one device and host controller per port) and
// plays the Plug and Play manager for each (device node, add-device, start, query-remove,
// surprise removal, remove), and unloads the driver with the verifier's check that nothing was
// left behind.
//
// Every call is made from the host (test) thread; the Plug and Play work runs on a kernel
// thread of the machine, as the system's own PnP thread would run it. The calls for one device
// take its root port, 0 unless given.
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
#include "sim/machine/enumeration.h"
#include "sim/usb/host_controller.h"
#include "usb/usb_port.h"
#include "win32/win32_host.h"

namespace sim::machine {

// The driver's service name, and the key the system keeps for it.
inline constexpr std::u16string_view kServiceName = u"Velmor_USBDAC_AUDIO";
// Where the installer puts the control panel, and the setup key that tells the ASIO driver.
inline constexpr std::u16string_view kControlPanelPath =
    u"C:\\Program Files\\Velmor\\Tarnlink_cpl.exe";
inline constexpr std::u16string_view kSetupKeyPath = u"SOFTWARE\\Velmor\\Tarnlink Setup";
// Where the installer puts the ASIO driver, the in-process server hosts load.
inline constexpr std::u16string_view kAsioDriverPath =
    u"C:\\Program Files\\Velmor\\Tarnlink_asio.dll";
// The root ports devices can be plugged into.
inline constexpr size_t kRootPorts = 4;

enum class Removal { Orderly, Surprise };


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

  // Installs the package as its installer does (the service key, the setup key with the control
  // panel's path) and runs the driver's entry; returns the entry's status.
  NTSTATUS LoadDriver();
  // Removes the devices still plugged, unloads the driver, and asks the verifier for leaks:
  // false when something was left behind (the machine has then stopped with the report).
  bool UnloadDriver();

  // Installs the ASIO driver as the package installer does: the module goes to its place
  // (kAsioDriverPath, whatever path the definition names) and an installer process loads it and
  // calls its DllRegisterServer, as regsvr32 would; returns that call's result, or
  // E_UNEXPECTED when the module or the export cannot be loaded or the machine stopped.
  // The module is placed once; later calls register it again.
  HRESULT InstallAsioDriver(tarnlink::win32::ModuleDefinition module);

  // Plugs the device into the root port and runs enumeration: device node, add-device and
  // start. Returns the first failure, after which the device has been removed again as
  // Windows removes a device whose start failed. STATUS_INVALID_DEVICE_STATE when the port is
  // taken or does not exist.
  NTSTATUS PlugDevice(std::unique_ptr<devices::UsbDevice> device,
                      Binding binding = Binding::Function, size_t port = 0);
  // The same with a fresh device of the built-in catalogue, bound as the catalogue says;
  // STATUS_NOT_FOUND for an unknown name.
  NTSTATUS PlugCatalogueDevice(std::string_view name, size_t port = 0);
  // The device leaves the bus; the driver sees a surprise removal. The remove request follows
  // with UnplugDevice, once the test has closed what it holds.
  void SurpriseRemoveDevice(size_t port = 0);
  // Orderly: query-remove (a refusal cancels the removal and is returned), then remove. After
  // a surprise removal, or with Removal::Surprise, the device goes off the bus first.
  NTSTATUS UnplugDevice(Removal how = Removal::Orderly, size_t port = 0);

  // Sends a Plug and Play request with the given minor code to the top of the device's stack.
  // IRP_MN_QUERY_CAPABILITIES carries a fresh record, read back with LastCapabilities.
  NTSTATUS SendPnp(UCHAR minor, size_t port = 0);
  const DEVICE_CAPABILITIES& LastCapabilities() const { return capabilities_; }
  // Device power: a set-power (or query-power) request for a D-state to the top of the stack,
  // as the power manager sends when the device idles, the system sleeps or wakes.
  NTSTATUS SetDevicePower(DEVICE_POWER_STATE state, size_t port = 0);
  NTSTATUS QueryDevicePower(DEVICE_POWER_STATE state, size_t port = 0);
  // The system sleeps: top-level windows get WM_POWERBROADCAST PBT_APMSUSPEND, then every
  // device goes to D3. Waking brings the devices back to D0, then windows get
  // PBT_APMRESUMEAUTOMATIC. GetDevicePowerState follows each device's D-state throughout.
  NTSTATUS SuspendSystem();
  NTSTATUS ResumeSystem();

  // Values written into a device's hardware key (its "Device Parameters") at every plug,
  // before the driver starts, as an installer or an administrator would have left them.
  void PresetHardwareValue(std::u16string name, ULONG type, std::vector<uint8_t> data);
  void PresetHardwareDword(std::u16string name, ULONG value);
  // A value of the plugged device's hardware key; false when it has none.
  bool HardwareValue(std::u16string_view name, ULONG* type, std::vector<uint8_t>* data,
                     size_t port = 0) const;

  bool DriverLoaded() const { return driver_ != nullptr; }
  bool DevicePlugged(size_t port = 0) const { return At(port).stack.pdo != nullptr; }
  PDRIVER_OBJECT Driver() const { return driver_; }
  PDEVICE_OBJECT PhysicalDevice(size_t port = 0) const { return At(port).stack.pdo; }
  // The device on top of the physical device object (the driver's), or null.
  PDEVICE_OBJECT FunctionDevice(size_t port = 0) const;
  usb::HostController* Controller(size_t port = 0) const { return At(port).controller.get(); }
  devices::UsbDevice* Device(size_t port = 0) const { return At(port).device.get(); }
  // The audio function the driver was given, or null when the device is bound whole.
  const AudioFunctionLayout* Function(size_t port = 0) const {
    return At(port).function != nullptr ? &At(port).function->Layout() : nullptr;
  }
  // The plugged device's instance id; its last part is the port's number, counted from 1.
  const std::u16string& InstanceId(size_t port = 0) const { return At(port).instanceId; }
  tarnlink::kernel::HostKernel& kernel() { return kernel_; }

  // Runs body on a new kernel thread until it ends; false when the machine stopped instead.
  bool RunInKernelThread(const std::function<void()>& body, const char* name = "machine");
  // The same as the main thread of a new user process of the image's name, which ends with it;
  // false also when the process could not be created.
  bool RunInProcess(const char* image, const std::function<void()>& body);

 private:
  // What one root port holds.
  struct Port {
    std::unique_ptr<devices::UsbDevice> device;
    std::unique_ptr<usb::HostController> controller;
    std::unique_ptr<CompositeFunction> function;
    tarnlink::usb::UsbStack stack;
    bool deviceAdded = false;      // add-device created the driver's device
    bool surpriseRemoved = false;  // the driver has seen the surprise removal
    std::u16string instanceId;     // of the plugged device's node
  };
  // The port, or an empty one beyond the last.
  const Port& At(size_t port) const;

  void RemoveFromBus(Port& port);
  // Builds a request with fill (on the stack location the top device sees), sends it and waits.
  NTSTATUS SendRequest(Port& port, const std::function<void(PIO_STACK_LOCATION)>& fill,
                       const char* name);
  NTSTATUS SendDevicePower(Port& port, UCHAR minor, DEVICE_POWER_STATE state);
  NTSTATUS SendPnp(Port& port, UCHAR minor);
  NTSTATUS Unplug(Port& port, Removal how);
  void SurpriseRemove(Port& port);
  NTSTATUS SetPower(Port& port, DEVICE_POWER_STATE state);
  void WriteHardwarePresets(const Port& port);

  struct HardwarePreset {
    std::u16string name;
    ULONG type;
    std::vector<uint8_t> data;
  };

  tarnlink::kernel::HostKernel& kernel_;
  PDRIVER_INITIALIZE driverEntry_;
  MachineOptions options_;
  PDRIVER_OBJECT driver_ = nullptr;
  Port ports_[kRootPorts];
  DEVICE_CAPABILITIES capabilities_ = {};
  std::vector<HardwarePreset> hardwarePresets_;
  bool asioDriverPlaced_ = false;
};

}  // namespace sim::machine
