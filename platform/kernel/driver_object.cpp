#include <algorithm>
#include <cstring>
#include <string>

#include "kernel/driver_object_host.h"
#include "kernel/ex_pool.h"
#include "kernel/irp_owned.h"
#include "kernel/ob_host.h"

namespace {

NTSTATUS RefuseRequest(PDEVICE_OBJECT, PIRP Irp) {
  Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  Irp->IoStatus.Information = 0;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

// Both names live in the driver object's own allocation, after the extension.
struct DriverBody {
  DRIVER_OBJECT driver;
  DRIVER_EXTENSION extension;
  WCHAR driverName[128];
  WCHAR serviceKey[192];
};

void SetName(UNICODE_STRING* target, WCHAR* buffer, size_t capacity, std::u16string_view text) {
  size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  *target = UNICODE_STRING{static_cast<USHORT>(n * sizeof(WCHAR)),
                           static_cast<USHORT>(capacity * sizeof(WCHAR)), buffer};
}

}  // namespace

NTSTATUS IoHostCreateDriver(std::u16string_view ServiceName, PDRIVER_OBJECT* DriverObject) {
  if (ServiceName.empty() || ServiceName.size() > 100) return STATUS_OBJECT_NAME_INVALID;
  PVOID object = nullptr;
  NTSTATUS status =
      ObHostCreateObject(*IoDriverObjectType, sizeof(DriverBody), OB_FLAG_MACHINE_OWNED, &object);
  if (!NT_SUCCESS(status)) return status;
  auto* body = static_cast<DriverBody*>(object);
  PDRIVER_OBJECT driver = &body->driver;
  driver->Type = IO_TYPE_DRIVER;
  driver->Size = sizeof(DRIVER_OBJECT);
  driver->DriverExtension = &body->extension;
  body->extension.DriverObject = driver;
  SetName(&driver->DriverName, body->driverName, RTL_NUMBER_OF(body->driverName),
          u"\\Driver\\" + std::u16string(ServiceName));
  SetName(&body->extension.ServiceKeyName, body->serviceKey, RTL_NUMBER_OF(body->serviceKey),
          ServiceName);
  for (PDRIVER_DISPATCH& entry : driver->MajorFunction) entry = RefuseRequest;
  *DriverObject = driver;
  return STATUS_SUCCESS;
}

NTSTATUS IoHostCallDriverEntry(PDRIVER_OBJECT DriverObject, PDRIVER_INITIALIZE DriverEntry) {
  auto* body = reinterpret_cast<DriverBody*>(DriverObject);
  std::u16string path = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\" +
                        std::u16string(body->extension.ServiceKeyName.Buffer,
                                       body->extension.ServiceKeyName.Length / sizeof(WCHAR));
  UNICODE_STRING registry_path = {static_cast<USHORT>(path.size() * sizeof(WCHAR)),
                                  static_cast<USHORT>(path.size() * sizeof(WCHAR)), path.data()};
  DriverObject->DriverInit = DriverEntry;
  return DriverEntry(DriverObject, &registry_path);
}

VOID IoHostUnloadDriver(PDRIVER_OBJECT DriverObject) {
  if (DriverObject->DriverUnload != nullptr) DriverObject->DriverUnload(DriverObject);
  ObDereferenceObject(DriverObject);
}
