// Driver set-up: the framework's dispatch table, add-device and unload routines.
#include <vector>

#include "kernel/machine.h"
#include "portcls/pc_device_context.h"
#include "portcls/pc_host_state.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

// A driver unloads only after its last device is gone; one of the framework's devices left
// behind would keep dispatching into unloaded code.
VOID PcUnloadDriver(PDRIVER_OBJECT DriverObject) {
  for (PDEVICE_OBJECT device = DriverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (ContextOf(device) != nullptr)
      kernel::Verify(DRIVER_VERIFIER_DETECTED_VIOLATION,
                     "driver unloaded while a Port Class device still exists",
                     reinterpret_cast<ULONG_PTR>(DriverObject),
                     reinterpret_cast<ULONG_PTR>(device));
  }
  std::erase(Host().drivers, DriverObject);
  ++Host().unloadCount;
  TRACE_POINT(kTracePcFrameworkUnload);
}

}  // namespace
}  // namespace tarnlink::portcls

NTSTATUS PcInitializeAdapterDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                                   PDRIVER_ADD_DEVICE AddDevice) {
  using namespace tarnlink::portcls;
  if (DriverObject == nullptr || RegistryPathName == nullptr || AddDevice == nullptr ||
      DriverObject->DriverExtension == nullptr) {
    TRACE_POINT(kTracePcInitializeRefused, 1u);
    return STATUS_INVALID_PARAMETER;
  }
  if (IsFrameworkDriver(DriverObject)) {
    TRACE_POINT(kTracePcInitializeRefused, 2u);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  for (PDRIVER_DISPATCH& entry : DriverObject->MajorFunction) entry = PcDispatchIrp;
  DriverObject->DriverExtension->AddDevice = AddDevice;
  DriverObject->DriverUnload = Host().installsUnload ? PcUnloadDriver : nullptr;
  Host().drivers.push_back(DriverObject);
  return STATUS_SUCCESS;
}
