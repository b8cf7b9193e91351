#include "portcls/pc_subdevice.h"

#include "kernel_mode.h"
#include "portcls/pc_pool_tags.h"
#include "portcls/pc_trace_points.h"
#include "portcls/portcls_host.h"

namespace tarnlink::portcls {
namespace {

SubdeviceRecord* RecordOf(PLIST_ENTRY entry) {
  return CONTAINING_RECORD(entry, SubdeviceRecord, link);
}

SubdeviceRecord* FindByName(DeviceContext* context, PCUNICODE_STRING name) {
  for (PLIST_ENTRY entry = context->subdevices.Flink; entry != &context->subdevices;
       entry = entry->Flink) {
    if (RtlEqualUnicodeString(&RecordOf(entry)->name, name, TRUE)) return RecordOf(entry);
  }
  return nullptr;
}

void DisableInterface(SubdeviceRecord* record) {
  if (!record->enabled) return;
  IoSetDeviceInterfaceState(&record->symbolicLink, FALSE);
  record->enabled = FALSE;
}

// Called with the device lock held.
void DestroyRecord(DeviceContext* context, SubdeviceRecord* record) {
  RemoveEntryList(&record->link);
  --context->subdeviceCount;
  DisableInterface(record);
  RtlFreeUnicodeString(&record->symbolicLink);
  record->port->ReleaseChildren();
  record->port->Release();
  ExFreePoolWithTag(record, kSubdeviceTag);
}

NTSTATUS AddRecord(DeviceContext* context, PCUNICODE_STRING name, CPortWaveRT* port) {
  if (context->state == DeviceState::SurpriseRemoved) return STATUS_DELETE_PENDING;
  if (context->subdeviceCount >= context->maxSubdevices) return STATUS_INSUFFICIENT_RESOURCES;
  if (FindByName(context, name) != nullptr) return STATUS_OBJECT_NAME_COLLISION;

  auto* record = static_cast<SubdeviceRecord*>(
      ExAllocatePoolZero(NonPagedPoolNx, sizeof(SubdeviceRecord) + name->Length, kSubdeviceTag));
  if (record == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  record->name.Buffer = reinterpret_cast<PWSTR>(record + 1);
  record->name.Length = record->name.MaximumLength = name->Length;
  RtlCopyMemory(record->name.Buffer, name->Buffer, name->Length);

  NTSTATUS status = IoRegisterDeviceInterface(context->physicalDevice, &KSCATEGORY_AUDIO,
                                              &record->name, &record->symbolicLink);
  if (NT_SUCCESS(status)) status = IoSetDeviceInterfaceState(&record->symbolicLink, TRUE);
  if (!NT_SUCCESS(status)) {
    RtlFreeUnicodeString(&record->symbolicLink);
    ExFreePoolWithTag(record, kSubdeviceTag);
    return status;
  }
  record->enabled = TRUE;
  port->AddRef();
  record->port = port;
  InsertTailList(&context->subdevices, &record->link);
  ++context->subdeviceCount;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS RemoveSubdevice(DeviceContext* context, CPortWaveRT* Port) {
  if (context == nullptr) {
    TRACE_POINT(kTracePcUnregisterRefused, 2u);
    return STATUS_INVALID_PARAMETER;
  }
  LockDevice(context);
  SubdeviceRecord* found = nullptr;
  for (PLIST_ENTRY entry = context->subdevices.Flink; entry != &context->subdevices;
       entry = entry->Flink) {
    if (RecordOf(entry)->port == Port) found = RecordOf(entry);
  }
  if (found != nullptr) DestroyRecord(context, found);
  UnlockDevice(context);
  if (found == nullptr) {
    TRACE_POINT(kTracePcUnregisterRefused, 3u);
    return STATUS_NOT_FOUND;
  }
  return STATUS_SUCCESS;
}

CPortWaveRT* ReferencePort(DeviceContext* context, std::u16string_view reference) {
  UNICODE_STRING name = {static_cast<USHORT>(reference.size() * sizeof(WCHAR)),
                         static_cast<USHORT>(reference.size() * sizeof(WCHAR)),
                         const_cast<PWSTR>(reference.data())};
  LockDevice(context);
  SubdeviceRecord* record = FindByName(context, &name);
  CPortWaveRT* port = record != nullptr && record->enabled ? record->port : nullptr;
  if (port != nullptr) port->AddRef();
  UnlockDevice(context);
  return port;
}

void DisableSubdeviceInterfaces(DeviceContext* context) {
  LockDevice(context);
  for (PLIST_ENTRY entry = context->subdevices.Flink; entry != &context->subdevices;
       entry = entry->Flink)
    DisableInterface(RecordOf(entry));
  UnlockDevice(context);
}

void ReleaseDeviceRegistrations(DeviceContext* context) {
  LockDevice(context);
  while (!IsListEmpty(&context->subdevices))
    DestroyRecord(context, RecordOf(context->subdevices.Flink));
  PADAPTERPOWERMANAGEMENT power = context->power;
  context->power = nullptr;
  UnlockDevice(context);
  if (power != nullptr) power->Release();
}

std::vector<SubdeviceInfo> Subdevices(PDEVICE_OBJECT functionalDevice) {
  std::vector<SubdeviceInfo> result;
  DeviceContext* context = ContextOf(functionalDevice);
  if (context == nullptr) return result;
  for (PLIST_ENTRY entry = context->subdevices.Flink; entry != &context->subdevices;
       entry = entry->Flink) {
    const SubdeviceRecord* record = RecordOf(entry);
    result.push_back(SubdeviceInfo{
        std::u16string(record->name.Buffer, record->name.Length / sizeof(WCHAR)),
        std::u16string(record->symbolicLink.Buffer, record->symbolicLink.Length / sizeof(WCHAR))});
  }
  return result;
}

}  // namespace tarnlink::portcls

NTSTATUS PcRegisterSubdevice(PDEVICE_OBJECT DeviceObject, PWSTR Name, PUNKNOWN Unknown) {
  using namespace tarnlink::portcls;
  DeviceContext* context = ContextOf(DeviceObject);
  CPortWaveRT* port = CPortWaveRT::FromUnknown(Unknown);
  NTSTATUS status = STATUS_INVALID_PARAMETER;
  if (context != nullptr && port != nullptr && Name != nullptr && Name[0] != 0) {
    status = STATUS_INVALID_DEVICE_STATE;
    if (port->Device() == DeviceObject) {
      UNICODE_STRING name;
      RtlInitUnicodeString(&name, Name);
      LockDevice(context);
      status = AddRecord(context, &name, port);
      UnlockDevice(context);
    }
  }
  if (!NT_SUCCESS(status)) {
    // The miniport usually holds the port, so a driver that gives up after a failed
    // registration could never free the pair: the binding ends here, and the port has to be
    // initialised again before another try.
    TRACE_POINT(kTracePcRegisterFailed, status);
    if (port != nullptr && port->Device() == DeviceObject) port->ReleaseChildren();
  }
  if (port != nullptr) port->Release();
  return status;
}
