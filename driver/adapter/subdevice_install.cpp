#include "subdevice_install.h"

#include "adapter_trace_points.h"
#include "subdevice_names.h"

NTSTATUS InstallSubdevice(PDEVICE_OBJECT DeviceObject, ULONG fixedRate) {
  UNREFERENCED_PARAMETER(DeviceObject);
  PCWSTR name = SubdeviceNameForRate(fixedRate);
  if (name == nullptr) {
    TRACE_POINT(kTraceSubdeviceNameMissing, fixedRate);
    return STATUS_UNSUCCESSFUL;
  }
  // The WaveRT port and its miniport are created, bound to the adapter and registered under
  // `name` here once the miniport exists; until then the device starts without a filter.
  TRACE_POINT(kTraceSubdeviceNotInstalled, fixedRate);
  return STATUS_NOT_IMPLEMENTED;
}
