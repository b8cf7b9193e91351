// Opening and closing the filters and pins of a subdevice.
//
// A filter is an open of the subdevice's interface with no further name. A pin is an open
// relative to a filter whose name is KSSTRING_Pin, a backslash, then the bytes of a
// KSPIN_CONNECT and the data format that follows it: everything in it comes from the client.
#include <cstring>
#include <string_view>

#include "kernel/file_object_host.h"
#include "kernel_mode.h"
#include "portcls/pc_dispatch.h"
#include "portcls/pc_ks_objects.h"
#include "portcls/pc_pool_tags.h"
#include "portcls/pc_subdevice.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

constexpr std::u16string_view kPinPrefix = KSSTRING_Pin u"\\";
// The largest connect request taken: a connect record and a generous format.
constexpr ULONG kMaxConnectBytes = sizeof(KSPIN_CONNECT) + 4096;

std::u16string_view NameOf(PFILE_OBJECT file) {
  if (file->FileName.Buffer == nullptr) return {};
  return {file->FileName.Buffer, file->FileName.Length / sizeof(WCHAR)};
}

NTSTATUS Refuse(PIRP Irp, ULONG reason, NTSTATUS status) {
  TRACE_POINT(kTracePcCreateRefused, reason, status);
  return CompleteIrp(Irp, status);
}

NTSTATUS CreateFilter(DeviceContext* context, PIRP Irp, PFILE_OBJECT file) {
  CPortWaveRT* port = ReferencePort(context, IoHostFileInterfaceReference(file));
  if (port == nullptr) return Refuse(Irp, 1, STATUS_OBJECT_NAME_NOT_FOUND);
  PMINIPORTWAVERT miniport = port->Miniport();
  PPCFILTER_DESCRIPTOR filter = nullptr;
  if (miniport == nullptr || !NT_SUCCESS(miniport->GetDescription(&filter)) || filter == nullptr) {
    port->Release();
    return Refuse(Irp, 2, STATUS_DEVICE_NOT_READY);
  }
  auto* instance = static_cast<FilterInstance*>(
      ExAllocatePoolZero(NonPagedPoolNx, sizeof(FilterInstance), kFilterTag));
  if (instance == nullptr) {
    port->Release();
    return Refuse(Irp, 3, STATUS_INSUFFICIENT_RESOURCES);
  }
  miniport->AddRef();
  *instance = {kFilterSignature, port, miniport, filter};
  file->FsContext = instance;
  return CompleteIrp(Irp, STATUS_SUCCESS);
}

bool SameOrWildcard(const GUID& range, const GUID& format) {
  return range == format || range == KSDATAFORMAT_SUBTYPE_WILDCARD;
}

// Does the format fall in one of the pin's ranges as far as their identifiers go? The
// stream checks the wave format itself.
bool PinTakesFormat(const PCPIN_DESCRIPTOR* pin, const KSDATAFORMAT* format) {
  const KSPIN_DESCRIPTOR& ks = pin->KsPinDescriptor;
  for (ULONG k = 0; k < ks.DataRangesCount; ++k) {
    if (k > 0 && (ks.DataRanges[k - 1]->Flags & KSDATARANGE_ATTRIBUTES) != 0) break;
    const KSDATARANGE* range = ks.DataRanges[k];
    if (SameOrWildcard(range->MajorFormat, format->MajorFormat) &&
        SameOrWildcard(range->SubFormat, format->SubFormat) &&
        SameOrWildcard(range->Specifier, format->Specifier))
      return true;
  }
  return false;
}

VOID FreePin(PinInstance* pin) {
  if (pin->stream != nullptr) pin->stream->Release();
  if (pin->portStream != nullptr) pin->portStream->Release();
  ExFreePoolWithTag(pin, kFilterTag);
}

NTSTATUS CreatePin(PIRP Irp, PFILE_OBJECT file, FilterInstance* filter) {
  const std::u16string_view name = NameOf(file);
  if (name.substr(0, kPinPrefix.size()) != kPinPrefix) return Refuse(Irp, 4, STATUS_OBJECT_NAME_INVALID);
  const ULONG bytes = static_cast<ULONG>((name.size() - kPinPrefix.size()) * sizeof(WCHAR));
  if (bytes < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) || bytes > kMaxConnectBytes)
    return Refuse(Irp, 5, STATUS_INVALID_PARAMETER);
  // An aligned copy: the name's characters are only 2-byte aligned, and the client's buffer
  // must not be read twice.
  auto* request = static_cast<UCHAR*>(ExAllocatePoolZero(NonPagedPoolNx, bytes, kFilterTag));
  if (request == nullptr) return Refuse(Irp, 6, STATUS_INSUFFICIENT_RESOURCES);
  std::memcpy(request, name.data() + kPinPrefix.size(), bytes);
  const auto* connect = reinterpret_cast<const KSPIN_CONNECT*>(request);
  auto* format = reinterpret_cast<KSDATAFORMAT*>(request + sizeof(KSPIN_CONNECT));
  NTSTATUS status = STATUS_SUCCESS;
  const PCPIN_DESCRIPTOR* descriptor = PinDescriptor(filter->filter, connect->PinId);
  if (format->FormatSize < sizeof(KSDATAFORMAT) ||
      format->FormatSize > bytes - sizeof(KSPIN_CONNECT)) {
    status = STATUS_INVALID_PARAMETER;
  } else if (descriptor == nullptr ||
             descriptor->KsPinDescriptor.Communication != KSPIN_COMMUNICATION_SINK) {
    status = STATUS_INVALID_DEVICE_REQUEST;
  } else if (!PinTakesFormat(descriptor, format)) {
    status = STATUS_NO_MATCH;
  } else if (filter->port->PinInstances(connect->PinId) >= descriptor->MaxGlobalInstanceCount) {
    status = STATUS_DEVICE_BUSY;
  }
  if (!NT_SUCCESS(status)) {
    ExFreePoolWithTag(request, kFilterTag);
    return Refuse(Irp, 7, status);
  }
  auto* pin = static_cast<PinInstance*>(
      ExAllocatePoolZero(NonPagedPoolNx, sizeof(PinInstance), kFilterTag));
  CPortWaveRTStream* portStream = pin != nullptr ? CPortWaveRTStream::Create() : nullptr;
  if (portStream == nullptr) {
    if (pin != nullptr) ExFreePoolWithTag(pin, kFilterTag);
    ExFreePoolWithTag(request, kFilterTag);
    return Refuse(Irp, 8, STATUS_INSUFFICIENT_RESOURCES);
  }
  *pin = {kPinSignature, filter, connect->PinId, nullptr, portStream, KSSTATE_STOP, nullptr, 0, nullptr};
  const BOOLEAN capture = descriptor->KsPinDescriptor.DataFlow == KSPIN_DATAFLOW_OUT;
  PMINIPORTWAVERTSTREAM stream = nullptr;
  status = filter->miniport->NewStream(&stream, portStream, connect->PinId, capture, format);
  ExFreePoolWithTag(request, kFilterTag);
  PVOID notification = nullptr;
  if (NT_SUCCESS(status)) {
    status = stream->QueryInterface(IID_IMiniportWaveRTStreamNotification, &notification);
    stream->Release();
  }
  if (!NT_SUCCESS(status)) {
    FreePin(pin);
    return Refuse(Irp, 9, status);
  }
  pin->stream = static_cast<PMINIPORTWAVERTSTREAMNOTIFICATION>(notification);
  filter->port->CountPinInstance(pin->pinId, 1);
  file->FsContext = pin;
  return CompleteIrp(Irp, STATUS_SUCCESS);
}

VOID ClosePin(PinInstance* pin) {
  StepPinState(pin, KSSTATE_STOP);
  if (pin->event != nullptr) {
    pin->stream->UnregisterNotificationEvent(pin->event);
    ObDereferenceObject(pin->event);
  }
  if (pin->bufferMdl != nullptr) pin->stream->FreeBufferWithNotification(pin->bufferMdl, pin->bufferSize);
  pin->filter->port->CountPinInstance(pin->pinId, -1);
  FreePin(pin);
}

VOID CloseFilter(FilterInstance* filter) {
  filter->miniport->Release();
  filter->port->Release();
  ExFreePoolWithTag(filter, kFilterTag);
}

}  // namespace

FilterInstance* FilterOf(PFILE_OBJECT file) {
  auto* filter = file != nullptr ? static_cast<FilterInstance*>(file->FsContext) : nullptr;
  return filter != nullptr && filter->signature == kFilterSignature ? filter : nullptr;
}

PinInstance* PinOf(PFILE_OBJECT file) {
  auto* pin = file != nullptr ? static_cast<PinInstance*>(file->FsContext) : nullptr;
  return pin != nullptr && pin->signature == kPinSignature ? pin : nullptr;
}

const PCPIN_DESCRIPTOR* PinDescriptor(const PCFILTER_DESCRIPTOR* filter, ULONG id) {
  if (filter == nullptr || filter->Pins == nullptr || id >= filter->PinCount) return nullptr;
  return reinterpret_cast<const PCPIN_DESCRIPTOR*>(reinterpret_cast<const UCHAR*>(filter->Pins) +
                                                   static_cast<SIZE_T>(id) * filter->PinSize);
}

NTSTATUS StepPinState(PinInstance* pin, KSSTATE target) {
  while (pin->state != target) {
    const KSSTATE next = static_cast<KSSTATE>(pin->state < target ? pin->state + 1 : pin->state - 1);
    NTSTATUS status = pin->stream->SetState(next);
    // Going down never stops half way: the stream is closing or pausing whatever it says.
    if (!NT_SUCCESS(status) && next > pin->state) return status;
    pin->state = next;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CreateKsObject(DeviceContext* context, PIRP Irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(Irp)->FileObject;
  Irp->IoStatus.Information = 0;
  if (file == nullptr) return Refuse(Irp, 0, STATUS_INVALID_PARAMETER);
  if (file->RelatedFileObject == nullptr) {
    if (!NameOf(file).empty()) return Refuse(Irp, 0, STATUS_OBJECT_NAME_NOT_FOUND);
    return CreateFilter(context, Irp, file);
  }
  FilterInstance* filter = FilterOf(file->RelatedFileObject);
  if (filter == nullptr) return Refuse(Irp, 0, STATUS_INVALID_DEVICE_REQUEST);
  return CreatePin(Irp, file, filter);
}

NTSTATUS CloseKsObject(PIRP Irp) {
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(Irp)->FileObject;
  if (PinInstance* pin = PinOf(file)) {
    ClosePin(pin);
  } else if (FilterInstance* filter = FilterOf(file)) {
    CloseFilter(filter);
  }
  if (file != nullptr) file->FsContext = nullptr;
  Irp->IoStatus.Information = 0;
  return CompleteIrp(Irp, STATUS_SUCCESS);
}

}  // namespace tarnlink::portcls
