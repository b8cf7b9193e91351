#include "sim/machine/machine.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <optional>

#include "kernel/driver_object_host.h"
#include "kernel/io_state.h"
#include "kernel/pnp_host.h"
#include "kernel/ps_process.h"
#include "kernel/registry_store.h"
#include "portcls/portcls_host.h"
#include "sim/devices/catalogue.h"
#include "win32/unknwn.h"
#include "win32/win32_host.h"
#include "win32/winerror.h"
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

// The installer's record of where the control panel lives, which the ASIO driver reads.
void WriteSetupKey() {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  if (!NT_SUCCESS(registry.Create(registry.Root(host::RegistryRoot::LocalMachine),
                                  kSetupKeyPath, &key, nullptr)))
    return;
  const std::u16string path(kControlPanelPath);
  registry.SetValue(key, u"ControlPanel", REG_SZ, path.c_str(),
                    (path.size() + 1) * sizeof(char16_t));
}

// The instance id names the port, as Windows names a device without a serial number by where
// it is plugged, so two devices of one model have different ids.
tarnlink::io::DeviceNodeInfo DescribeDevice(const USB_DEVICE_DESCRIPTOR& descriptor,
                                            const AudioFunctionLayout* function, size_t port) {
  char id[64];
  if (function != nullptr) {
    std::snprintf(id, sizeof(id), "USB\\VID_%04X&PID_%04X&MI_%02X\\%zu", descriptor.idVendor,
                  descriptor.idProduct, function->FirstInterface(), port + 1);
  } else {
    std::snprintf(id, sizeof(id), "USB\\VID_%04X&PID_%04X\\%zu", descriptor.idVendor,
                  descriptor.idProduct, port + 1);
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
  for (Port& port : ports_) {
    if (port.stack.pdo != nullptr) Unplug(port, Removal::Orderly);
  }
  if (DriverLoaded()) RunInKernelThread([&] { IoHostUnloadDriver(driver_); });
  driver_ = nullptr;
}

const Machine::Port& Machine::At(size_t port) const {
  static const Port kNone;
  return port < kRootPorts ? ports_[port] : kNone;
}

bool Machine::RunInKernelThread(const std::function<void()>& body, const char* name) {
  PKTHREAD thread = kernel_.StartThread(body, name);
  return kernel_.RunUntilThreadsEnd({thread});
}

NTSTATUS Machine::LoadDriver() {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  RunInKernelThread([&] {
    WriteServiceKey();
    WriteSetupKey();
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

// regsvr32's work: a process of its own loads the server, calls its registration and frees it.
HRESULT Machine::InstallAsioDriver(tarnlink::win32::ModuleDefinition module) {
  if (!asioDriverPlaced_) {
    module.path = kAsioDriverPath;
    tarnlink::win32::RegisterModule(std::move(module));
    asioDriverPlaced_ = true;
  }
  HRESULT result = E_UNEXPECTED;
  const bool ran = RunInProcess("regsvr32.exe", [&] {
    const std::u16string path(kAsioDriverPath);
    HMODULE server = LoadLibraryW(path.c_str());
    if (server == nullptr) return;
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")));
    if (registerServer != nullptr) result = registerServer();
    FreeLibrary(server);
  });
  return ran ? result : E_UNEXPECTED;
}

bool Machine::RunInProcess(const char* image, const std::function<void()>& body) {
  bool created = false;
  return RunInKernelThread(
      [&] {
        PEPROCESS process = nullptr;
        created = NT_SUCCESS(PsHostCreateProcess(image, &process));
        if (!created) return;
        PEPROCESS previous = PsGetCurrentProcess();
        PsHostSetThreadProcess(KeGetCurrentThread(), process);
        body();
        PsHostSetThreadProcess(KeGetCurrentThread(), previous);
        PsHostTerminateProcess(process);
        ObDereferenceObject(process);
      },
      image) &&
         created;
}

bool Machine::UnloadDriver() {
  for (Port& port : ports_) {
    if (port.stack.pdo != nullptr) Unplug(port, Removal::Orderly);
  }
  if (DriverLoaded() && !RunInKernelThread([&] { IoHostUnloadDriver(driver_); }, "unload"))
    return false;
  driver_ = nullptr;
  return !kernel_.Stopped() && kernel_.DeclareDriverUnloaded();
}

PDEVICE_OBJECT Machine::FunctionDevice(size_t port) const {
  const Port& p = At(port);
  return p.stack.pdo != nullptr ? p.stack.pdo->AttachedDevice : nullptr;
}

NTSTATUS Machine::PlugCatalogueDevice(std::string_view name, size_t port) {
  const devices::CatalogueEntry* entry = devices::FindCatalogueEntry(name);
  if (entry == nullptr) return STATUS_NOT_FOUND;
  return PlugDevice(devices::MakeCatalogueDevice(name),
                    entry->boundWhole ? Binding::Whole : Binding::Function, port);
}

NTSTATUS Machine::PlugDevice(std::unique_ptr<devices::UsbDevice> device, Binding binding,
                             size_t index) {
  if (!DriverLoaded() || index >= kRootPorts || DevicePlugged(index))
    return STATUS_INVALID_DEVICE_STATE;
  Port& port = ports_[index];
  port.device = std::move(device);
  port.controller = std::make_unique<usb::HostController>(options_.busSpeed, options_.controller);
  port.controller->Attach(port.device.get());
  port.surpriseRemoved = false;
  port.deviceAdded = false;
  std::optional<AudioFunctionLayout> layout;
  if (binding == Binding::Function) layout = FindAudioFunction(ReadConfiguration(*port.device));
  if (layout)
    port.function = std::make_unique<CompositeFunction>(port.controller.get(), std::move(*layout));
  tarnlink::usb::UsbPortBackend* backend =
      port.function != nullptr ? static_cast<tarnlink::usb::UsbPortBackend*>(port.function.get())
                               : port.controller.get();

  NTSTATUS status = STATUS_UNSUCCESSFUL;
  RunInKernelThread(
      [&] {
        status = tarnlink::usb::CreateUsbStack(backend, &port.stack, static_cast<ULONG>(index));
        if (NT_SUCCESS(status)) {
          tarnlink::io::DeviceNodeInfo node =
              DescribeDevice(ReadDeviceDescriptor(*port.device), Function(index), index);
          port.instanceId = node.instanceId;
          status = tarnlink::io::CreateDeviceNode(port.stack.pdo, node);
        }
        if (NT_SUCCESS(status)) WriteHardwarePresets(port);
        if (NT_SUCCESS(status))
          status = driver_->DriverExtension->AddDevice(driver_, port.stack.pdo);
      },
      "pnp enumeration");
  port.deviceAdded = NT_SUCCESS(status) && FunctionDevice(index) != nullptr;
  if (NT_SUCCESS(status)) status = SendPnp(port, IRP_MN_START_DEVICE);
  if (!NT_SUCCESS(status) && !kernel_.Stopped()) {
    if (port.deviceAdded) SendPnp(port, IRP_MN_REMOVE_DEVICE);
    RemoveFromBus(port);
  }
  return status;
}

NTSTATUS Machine::SendRequest(Port& port, const std::function<void(PIO_STACK_LOCATION)>& fill,
                              const char* name) {
  PDEVICE_OBJECT top = port.stack.pdo != nullptr ? port.stack.pdo->AttachedDevice : nullptr;
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

NTSTATUS Machine::SendPnp(UCHAR minor, size_t port) {
  if (port >= kRootPorts) return STATUS_NO_SUCH_DEVICE;
  return SendPnp(ports_[port], minor);
}

NTSTATUS Machine::SendPnp(Port& port, UCHAR minor) {
  NTSTATUS status = SendRequest(
      port,
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
  if (minor == IRP_MN_REMOVE_DEVICE) port.deviceAdded = false;
  return status;
}

NTSTATUS Machine::SendDevicePower(Port& port, UCHAR minor, DEVICE_POWER_STATE state) {
  return SendRequest(
      port,
      [&](PIO_STACK_LOCATION next) {
        next->MajorFunction = IRP_MJ_POWER;
        next->MinorFunction = minor;
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State.DeviceState = state;
        next->Parameters.Power.ShutdownType = PowerActionNone;
      },
      "power manager");
}

NTSTATUS Machine::SetPower(Port& port, DEVICE_POWER_STATE state) {
  const NTSTATUS status = SendDevicePower(port, IRP_MN_SET_POWER, state);
  if (NT_SUCCESS(status)) tarnlink::win32::SetDevicePower(port.stack.pdo, state == PowerDeviceD0);
  return status;
}

NTSTATUS Machine::SetDevicePower(DEVICE_POWER_STATE state, size_t port) {
  if (port >= kRootPorts) return STATUS_NO_SUCH_DEVICE;
  return SetPower(ports_[port], state);
}

// Every plugged device follows the system; the first failure is returned.
NTSTATUS Machine::SuspendSystem() {
  tarnlink::win32::BroadcastPower(PBT_APMSUSPEND);
  NTSTATUS result = STATUS_SUCCESS;
  for (Port& port : ports_) {
    if (port.stack.pdo == nullptr) continue;
    const NTSTATUS status = SetPower(port, PowerDeviceD3);
    if (NT_SUCCESS(result)) result = status;
  }
  return result;
}

NTSTATUS Machine::ResumeSystem() {
  NTSTATUS result = STATUS_SUCCESS;
  for (Port& port : ports_) {
    if (port.stack.pdo == nullptr) continue;
    const NTSTATUS status = SetPower(port, PowerDeviceD0);
    if (NT_SUCCESS(result)) result = status;
  }
  tarnlink::win32::BroadcastPower(PBT_APMRESUMEAUTOMATIC);
  return result;
}

NTSTATUS Machine::QueryDevicePower(DEVICE_POWER_STATE state, size_t port) {
  if (port >= kRootPorts) return STATUS_NO_SUCH_DEVICE;
  return SendDevicePower(ports_[port], IRP_MN_QUERY_POWER, state);
}

void Machine::PresetHardwareValue(std::u16string name, ULONG type, std::vector<uint8_t> data) {
  std::erase_if(hardwarePresets_, [&](const HardwarePreset& p) { return p.name == name; });
  hardwarePresets_.push_back({std::move(name), type, std::move(data)});
}

void Machine::PresetHardwareDword(std::u16string name, ULONG value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  PresetHardwareValue(std::move(name), REG_DWORD, {bytes, bytes + sizeof(value)});
}

void Machine::WriteHardwarePresets(const Port& port) {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key;
  if (!NT_SUCCESS(registry.Create(registry.Root(host::RegistryRoot::LocalMachine),
                                  HardwareKeyPath(port.instanceId), &key, nullptr)))
    return;
  for (const HardwarePreset& p : hardwarePresets_)
    registry.SetValue(key, p.name, p.type, p.data.data(), p.data.size());
}

bool Machine::HardwareValue(std::u16string_view name, ULONG* type, std::vector<uint8_t>* data,
                            size_t port) const {
  if (!DevicePlugged(port)) return false;
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key = registry.Open(registry.Root(host::RegistryRoot::LocalMachine),
                                           HardwareKeyPath(At(port).instanceId));
  host::RegistryValue value;
  if (key == nullptr || !NT_SUCCESS(registry.QueryValue(key, name, &value))) return false;
  *type = value.type;
  *data = std::move(value.data);
  return true;
}

void Machine::SurpriseRemoveDevice(size_t port) {
  if (port < kRootPorts) SurpriseRemove(ports_[port]);
}

void Machine::SurpriseRemove(Port& port) {
  if (port.stack.pdo == nullptr || port.surpriseRemoved) return;
  port.controller->Unplug();
  if (port.deviceAdded) SendPnp(port, IRP_MN_SURPRISE_REMOVAL);
  port.surpriseRemoved = true;
}

NTSTATUS Machine::UnplugDevice(Removal how, size_t port) {
  if (!DevicePlugged(port)) return STATUS_NO_SUCH_DEVICE;
  return Unplug(ports_[port], how);
}

NTSTATUS Machine::Unplug(Port& port, Removal how) {
  if (how == Removal::Surprise) SurpriseRemove(port);
  if (!port.surpriseRemoved && port.deviceAdded) {
    NTSTATUS status = SendPnp(port, IRP_MN_QUERY_REMOVE_DEVICE);
    if (!NT_SUCCESS(status)) {
      SendPnp(port, IRP_MN_CANCEL_REMOVE_DEVICE);
      return status;
    }
  }
  if (port.deviceAdded) SendPnp(port, IRP_MN_REMOVE_DEVICE);
  RemoveFromBus(port);
  return STATUS_SUCCESS;
}

void Machine::RemoveFromBus(Port& port) {
  if (port.stack.pdo != nullptr || port.stack.driver != nullptr) {
    RunInKernelThread(
        [&] {
          if (port.stack.pdo != nullptr) tarnlink::io::RemoveDeviceNode(port.stack.pdo);
          tarnlink::usb::DeleteUsbStack(&port.stack);
        },
        "pnp removal");
  }
  port.function.reset();
  port.controller.reset();
  port.device.reset();
  port.deviceAdded = false;
  port.surpriseRemoved = false;
}

}  // namespace sim::machine
