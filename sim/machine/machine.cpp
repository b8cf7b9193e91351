#include "sim/machine/machine.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <optional>

#include "kernel/driver_object_host.h"
#include "kernel/io_state.h"
#include "kernel/pnp_host.h"
#include "kernel/registry_store.h"
#include "portcls/portcls_host.h"
#include "sim/devices/catalogue.h"
#include "win32/win32_host.h"
#include "win32/winuser.h"

namespace sim::machine {
namespace {

constexpr ULONG kServiceKernelDriver = 1;
constexpr ULONG kServiceDemandStart = 3;
constexpr ULONG kServiceErrorNormal = 1;

void WriteServiceKey() {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  bool created = false;
  std::u16string path = u"SYSTEM\\CurrentControlSet\\Services\\" + std::u16string(kServiceName);
  if (!NT_SUCCESS(
          registry.Create(registry.Root(host::RegistryRoot::LocalMachine), path, &key, &created)))
    return;
  registry.SetValue(key, u"Type", REG_DWORD, &kServiceKernelDriver, sizeof(ULONG));
  registry.SetValue(key, u"Start", REG_DWORD, &kServiceDemandStart, sizeof(ULONG));
  registry.SetValue(key, u"ErrorControl", REG_DWORD, &kServiceErrorNormal, sizeof(ULONG));
  const std::u16string image = u"\\SystemRoot\\System32\\drivers\\Tarnlink.sys";
  registry.SetValue(key, u"ImagePath", REG_EXPAND_SZ, image.c_str(),
                    (image.size() + 1) * sizeof(char16_t));
}

USB_DEFAULT_PIPE_SETUP_PACKET GetDescriptorSetup(UCHAR type, USHORT length) {
  USB_DEFAULT_PIPE_SETUP_PACKET setup = {};
  setup.bmRequestType.B = 0x80;
  setup.bRequest = USB_REQUEST_GET_DESCRIPTOR;
  setup.wValue.W = static_cast<USHORT>(type << 8);
  setup.wLength = length;
  return setup;
}

// What the hub learns at enumeration, before any driver runs: the device descriptor, and the
// configuration the composite parent splits.
USB_DEVICE_DESCRIPTOR ReadDeviceDescriptor(devices::UsbDevice& device) {
  USB_DEVICE_DESCRIPTOR descriptor = {};
  device.Control(devices::BusTime{}, GetDescriptorSetup(USB_DEVICE_DESCRIPTOR_TYPE,
                                                        sizeof(descriptor)),
                 std::span<uint8_t>(reinterpret_cast<uint8_t*>(&descriptor), sizeof(descriptor)));
  return descriptor;
}

std::vector<uint8_t> ReadConfiguration(devices::UsbDevice& device) {
  std::vector<uint8_t> header(sizeof(USB_CONFIGURATION_DESCRIPTOR));
  devices::ControlResult r = device.Control(
      devices::BusTime{},
      GetDescriptorSetup(USB_CONFIGURATION_DESCRIPTOR_TYPE, static_cast<USHORT>(header.size())),
      header);
  if (r.Stalled() || r.length < header.size()) return {};
  std::vector<uint8_t> config(static_cast<size_t>(header[2] | header[3] << 8));
  r = device.Control(devices::BusTime{},
                     GetDescriptorSetup(USB_CONFIGURATION_DESCRIPTOR_TYPE,
                                        static_cast<USHORT>(config.size())),
                     config);
  config.resize(r.Stalled() ? 0 : std::min(r.length, config.size()));
  return config;
}

tarnlink::io::DeviceNodeInfo DescribeDevice(const USB_DEVICE_DESCRIPTOR& descriptor,
                                            const AudioFunctionLayout* function) {
  char id[64];
  if (function != nullptr) {
    std::snprintf(id, sizeof(id), "USB\\VID_%04X&PID_%04X&MI_%02X\\1", descriptor.idVendor,
                  descriptor.idProduct, function->FirstInterface());
  } else {
    std::snprintf(id, sizeof(id), "USB\\VID_%04X&PID_%04X\\1", descriptor.idVendor,
                  descriptor.idProduct);
  }
  return {std::u16string(id, id + std::strlen(id)), std::u16string(kServiceName),
          u"Velmor USB DAC"};
}

std::u16string HardwareKeyPath(const std::u16string& instanceId) {
  return u"SYSTEM\\CurrentControlSet\\Enum\\" + instanceId + u"\\Device Parameters";
}

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID Context) {
  KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

Machine::Machine(tarnlink::kernel::HostKernel& kernel, PDRIVER_INITIALIZE driverEntry,
                 MachineOptions options)
    : kernel_(kernel), driverEntry_(driverEntry), options_(options) {
  tarnlink::io::ResetIoState();
  tarnlink::portcls::ResetHostState();
  HostSetWindowsVersion(options_.windowsVersion);
}

Machine::~Machine() {
  if (kernel_.Stopped()) return;
  if (DevicePlugged()) UnplugDevice(Removal::Orderly);
  if (DriverLoaded()) RunInKernelThread([&] { IoHostUnloadDriver(driver_); });
  driver_ = nullptr;
}

bool Machine::RunInKernelThread(const std::function<void()>& body, const char* name) {
  PKTHREAD thread = kernel_.StartThread(body, name);
  return kernel_.RunUntilThreadsEnd({thread});
}

NTSTATUS Machine::LoadDriver() {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  RunInKernelThread([&] {
    WriteServiceKey();
    status = IoHostCreateDriver(kServiceName, &driver_);
    if (!NT_SUCCESS(status)) return;
    status = IoHostCallDriverEntry(driver_, driverEntry_);
    if (NT_SUCCESS(status)) return;
    // A driver whose entry failed is not loaded: its object goes without an unload call.
    driver_->DriverUnload = nullptr;
    IoHostUnloadDriver(driver_);
    driver_ = nullptr;
  });
  return status;
}

bool Machine::UnloadDriver() {
  if (DevicePlugged()) UnplugDevice(Removal::Orderly);
  if (DriverLoaded() && !RunInKernelThread([&] { IoHostUnloadDriver(driver_); }, "unload"))
    return false;
  driver_ = nullptr;
  return !kernel_.Stopped() && kernel_.DeclareDriverUnloaded();
}

PDEVICE_OBJECT Machine::FunctionDevice() const {
  return stack_.pdo != nullptr ? stack_.pdo->AttachedDevice : nullptr;
}

NTSTATUS Machine::PlugCatalogueDevice(std::string_view name) {
  const devices::CatalogueEntry* entry = devices::FindCatalogueEntry(name);
  if (entry == nullptr) return STATUS_NOT_FOUND;
  return PlugDevice(devices::MakeCatalogueDevice(name),
                    entry->boundWhole ? Binding::Whole : Binding::Function);
}

NTSTATUS Machine::PlugDevice(std::unique_ptr<devices::UsbDevice> device, Binding binding) {
  if (!DriverLoaded() || DevicePlugged()) return STATUS_INVALID_DEVICE_STATE;
  device_ = std::move(device);
  controller_ = std::make_unique<usb::HostController>(options_.busSpeed, options_.controller);
  controller_->Attach(device_.get());
  surpriseRemoved_ = false;
  deviceAdded_ = false;
  std::optional<AudioFunctionLayout> layout;
  if (binding == Binding::Function) layout = FindAudioFunction(ReadConfiguration(*device_));
  if (layout) function_ = std::make_unique<CompositeFunction>(controller_.get(), std::move(*layout));
  tarnlink::usb::UsbPortBackend* backend =
      function_ != nullptr ? static_cast<tarnlink::usb::UsbPortBackend*>(function_.get())
                           : controller_.get();

  NTSTATUS status = STATUS_UNSUCCESSFUL;
  RunInKernelThread(
      [&] {
        status = tarnlink::usb::CreateUsbStack(backend, &stack_);
        if (NT_SUCCESS(status)) {
          tarnlink::io::DeviceNodeInfo node =
              DescribeDevice(ReadDeviceDescriptor(*device_), Function());
          instanceId_ = node.instanceId;
          status = tarnlink::io::CreateDeviceNode(stack_.pdo, node);
        }
        if (NT_SUCCESS(status)) WriteHardwarePresets();
        if (NT_SUCCESS(status)) status = driver_->DriverExtension->AddDevice(driver_, stack_.pdo);
      },
      "pnp enumeration");
  deviceAdded_ = NT_SUCCESS(status) && FunctionDevice() != nullptr;
  if (NT_SUCCESS(status)) status = SendPnp(IRP_MN_START_DEVICE);
  if (!NT_SUCCESS(status) && !kernel_.Stopped()) {
    if (deviceAdded_) SendPnp(IRP_MN_REMOVE_DEVICE);
    RemoveFromBus();
  }
  return status;
}

NTSTATUS Machine::SendRequest(const std::function<void(PIO_STACK_LOCATION)>& fill,
                              const char* name) {
  PDEVICE_OBJECT top = FunctionDevice();
  if (top == nullptr) return STATUS_NO_SUCH_DEVICE;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  RunInKernelThread(
      [&] {
        PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
        if (irp == nullptr) {
          status = STATUS_INSUFFICIENT_RESOURCES;
          return;
        }
        // Plug and Play and power requests start out unsupported: only a driver that serves
        // one changes it.
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        fill(IoGetNextIrpStackLocation(irp));
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
        if (IoCallDriver(top, irp) == STATUS_PENDING)
          KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
        IoFreeIrp(irp);
      },
      name);
  return status;
}

NTSTATUS Machine::SendPnp(UCHAR minor) {
  NTSTATUS status = SendRequest(
      [&](PIO_STACK_LOCATION next) {
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = minor;
        if (minor == IRP_MN_QUERY_CAPABILITIES) {
          capabilities_ = {};
          capabilities_.Size = sizeof(DEVICE_CAPABILITIES);
          capabilities_.Version = 1;
          capabilities_.Address = capabilities_.UINumber = 0xFFFFFFFF;
          next->Parameters.DeviceCapabilities.Capabilities = &capabilities_;
        }
      },
      "pnp manager");
  if (minor == IRP_MN_REMOVE_DEVICE) deviceAdded_ = false;
  return status;
}

NTSTATUS Machine::SendDevicePower(UCHAR minor, DEVICE_POWER_STATE state) {
  return SendRequest(
      [&](PIO_STACK_LOCATION next) {
        next->MajorFunction = IRP_MJ_POWER;
        next->MinorFunction = minor;
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State.DeviceState = state;
        next->Parameters.Power.ShutdownType = PowerActionNone;
      },
      "power manager");
}

NTSTATUS Machine::SetDevicePower(DEVICE_POWER_STATE state) {
  const NTSTATUS status = SendDevicePower(IRP_MN_SET_POWER, state);
  if (NT_SUCCESS(status)) tarnlink::win32::SetDevicePower(stack_.pdo, state == PowerDeviceD0);
  return status;
}

NTSTATUS Machine::SuspendSystem() {
  tarnlink::win32::BroadcastPower(PBT_APMSUSPEND);
  return DevicePlugged() ? SetDevicePower(PowerDeviceD3) : STATUS_SUCCESS;
}

NTSTATUS Machine::ResumeSystem() {
  const NTSTATUS status = DevicePlugged() ? SetDevicePower(PowerDeviceD0) : STATUS_SUCCESS;
  tarnlink::win32::BroadcastPower(PBT_APMRESUMEAUTOMATIC);
  return status;
}

NTSTATUS Machine::QueryDevicePower(DEVICE_POWER_STATE state) {
  return SendDevicePower(IRP_MN_QUERY_POWER, state);
}

void Machine::PresetHardwareValue(std::u16string name, ULONG type, std::vector<uint8_t> data) {
  std::erase_if(hardwarePresets_, [&](const HardwarePreset& p) { return p.name == name; });
  hardwarePresets_.push_back({std::move(name), type, std::move(data)});
}

void Machine::PresetHardwareDword(std::u16string name, ULONG value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  PresetHardwareValue(std::move(name), REG_DWORD, {bytes, bytes + sizeof(value)});
}

void Machine::WriteHardwarePresets() {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  if (!NT_SUCCESS(registry.Create(registry.Root(host::RegistryRoot::LocalMachine),
                                  HardwareKeyPath(instanceId_), &key, nullptr)))
    return;
  for (const HardwarePreset& p : hardwarePresets_)
    registry.SetValue(key, p.name, p.type, p.data.data(), p.data.size());
}

bool Machine::HardwareValue(std::u16string_view name, ULONG* type,
                            std::vector<uint8_t>* data) const {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key =
      registry.Open(registry.Root(host::RegistryRoot::LocalMachine), HardwareKeyPath(instanceId_));
  host::RegistryValue value;
  if (key == nullptr || !NT_SUCCESS(registry.QueryValue(key, name, &value))) return false;
  *type = value.type;
  *data = std::move(value.data);
  return true;
}

void Machine::SurpriseRemoveDevice() {
  if (!DevicePlugged() || surpriseRemoved_) return;
  controller_->Unplug();
  if (deviceAdded_) SendPnp(IRP_MN_SURPRISE_REMOVAL);
  surpriseRemoved_ = true;
}

NTSTATUS Machine::UnplugDevice(Removal how) {
  if (!DevicePlugged()) return STATUS_NO_SUCH_DEVICE;
  if (how == Removal::Surprise) SurpriseRemoveDevice();
  if (!surpriseRemoved_ && deviceAdded_) {
    NTSTATUS status = SendPnp(IRP_MN_QUERY_REMOVE_DEVICE);
    if (!NT_SUCCESS(status)) {
      SendPnp(IRP_MN_CANCEL_REMOVE_DEVICE);
      return status;
    }
  }
  if (deviceAdded_) SendPnp(IRP_MN_REMOVE_DEVICE);
  RemoveFromBus();
  return STATUS_SUCCESS;
}

void Machine::RemoveFromBus() {
  if (stack_.pdo != nullptr || stack_.driver != nullptr) {
    RunInKernelThread(
        [&] {
          if (stack_.pdo != nullptr) tarnlink::io::RemoveDeviceNode(stack_.pdo);
          tarnlink::usb::DeleteUsbStack(&stack_);
        },
        "pnp removal");
  }
  function_.reset();
  controller_.reset();
  device_.reset();
  deviceAdded_ = false;
  surpriseRemoved_ = false;
}

}  // namespace sim::machine
