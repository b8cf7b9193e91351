#include "subdevice_install.h"

#include "adapter_trace_points.h"
#include "driver_pool.h"
#include "miniport_wavert.h"
#include "subdevice_names.h"

NTSTATUS InstallSubdevice(PDEVICE_OBJECT DeviceObject, PUNKNOWN AdapterUnknown, ULONG fixedRate) {
  PCWSTR name = SubdeviceNameForRate(fixedRate);
  if (name == nullptr) {
    TRACE_POINT(kTraceSubdeviceNameMissing, fixedRate);
    return STATUS_UNSUCCESSFUL;
  }
  PPORT port = nullptr;
  PUNKNOWN miniport = nullptr;
  NTSTATUS status = PcNewPort(&port, CLSID_PortWaveRT);
  if (NT_SUCCESS(status))
    status = CreateMiniportWaveRT(&miniport, CLSID_PortWaveRT, nullptr, DriverPoolType());
  if (NT_SUCCESS(status)) status = port->Init(DeviceObject, nullptr, miniport, AdapterUnknown, nullptr);
  if (NT_SUCCESS(status)) status = PcRegisterSubdevice(DeviceObject, const_cast<PWSTR>(name), port);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceSubdeviceNotInstalled, fixedRate, status);
  // The registration keeps what it needs of both.
  if (miniport != nullptr) miniport->Release();
  if (port != nullptr) port->Release();
  return status;
}
