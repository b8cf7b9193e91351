// IOCTL_KS_PROPERTY on the framework's filters and pins: the pin-factory and connection
// properties the framework answers itself, the pins' signal-processing modes it asks the
// miniport for, the real-time audio properties it serves through the
// miniport's stream, and the items of the miniport's automation tables, called with a
// PCPROPERTY_REQUEST. The request and its value come from the client: every length is checked
// before a byte is read, and the request is read once, into the framework's own copy.
#include <cstring>

#include "kernel_mode.h"
#include "portcls/pc_dispatch.h"
#include "portcls/pc_ks_objects.h"
#include "portcls/pc_pool_tags.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {
namespace {

constexpr ULONG kMaxRequestBytes = 64 * 1024;
constexpr ULONG kMaxBufferBytes = 64 * 1024 * 1024;
constexpr ULONG kVerbs = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT;

ULONG AlignUp8(ULONG value) {
  return (value + 7u) & ~7u;
}

struct Request {
  const UCHAR* input;  // the framework's copy
  ULONG inputLength;
  PVOID output;  // the client's value buffer
  ULONG outputLength;
  ULONG_PTR information;
  PIRP irp;

  const KSPROPERTY& Property() const { return *reinterpret_cast<const KSPROPERTY*>(input); }
  ULONG Verb() const { return Property().Flags & kVerbs; }
  // A record of the input at least T's size, or null.
  template <typename T>
  const T* InputAs() const {
    return inputLength >= sizeof(T) ? reinterpret_cast<const T*>(input) : nullptr;
  }
  // Hands back Size bytes: a zero-length buffer asks for the size.
  NTSTATUS Reply(const void* data, ULONG size) {
    if (outputLength == 0) {
      information = size;
      return STATUS_BUFFER_OVERFLOW;
    }
    if (outputLength < size || output == nullptr) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(output, data, size);
    information = size;
    return STATUS_SUCCESS;
  }
  template <typename T>
  NTSTATUS ReplyValue(const T& value) {
    return Reply(&value, sizeof(T));
  }
};

bool IsAttributeList(const KSPIN_DESCRIPTOR& ks, ULONG k) {
  return k > 0 && (ks.DataRanges[k - 1]->Flags & KSDATARANGE_ATTRIBUTES) != 0;
}

bool Matches(const GUID& a, const GUID& b) {
  return a == b || a == KSDATAFORMAT_SUBTYPE_WILDCARD || b == KSDATAFORMAT_SUBTYPE_WILDCARD;
}

NTSTATUS DataRanges(Request& request, const KSPIN_DESCRIPTOR& ks) {
  ULONG size = sizeof(KSMULTIPLE_ITEM);
  ULONG count = 0;
  for (ULONG k = 0; k < ks.DataRangesCount && !IsAttributeList(ks, k); ++k, ++count)
    size = AlignUp8(size) + ks.DataRanges[k]->FormatSize;
  if (request.outputLength == 0) {
    request.information = size;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (request.outputLength < size || request.output == nullptr) return STATUS_BUFFER_TOO_SMALL;
  auto* out = static_cast<UCHAR*>(request.output);
  *reinterpret_cast<KSMULTIPLE_ITEM*>(out) = {size, count};
  ULONG at = sizeof(KSMULTIPLE_ITEM);
  for (ULONG k = 0; k < count; ++k) {
    at = AlignUp8(at);
    std::memcpy(out + at, ks.DataRanges[k], ks.DataRanges[k]->FormatSize);
    at += ks.DataRanges[k]->FormatSize;
  }
  request.information = size;
  return STATUS_SUCCESS;
}

// The client's ranges follow the KSP_PIN as a KSMULTIPLE_ITEM; the first one the miniport can
// intersect with one of the pin's ranges gives the format.
NTSTATUS DataIntersection(Request& request, FilterInstance* filter, ULONG pinId,
                          const KSPIN_DESCRIPTOR& ks) {
  const ULONG start = sizeof(KSP_PIN);
  if (request.inputLength < start + sizeof(KSMULTIPLE_ITEM)) return STATUS_INVALID_PARAMETER;
  const auto* items = reinterpret_cast<const KSMULTIPLE_ITEM*>(request.input + start);
  if (items->Size < sizeof(KSMULTIPLE_ITEM) || items->Size > request.inputLength - start)
    return STATUS_INVALID_PARAMETER;
  const UCHAR* end = request.input + start + items->Size;
  const UCHAR* at = request.input + start + sizeof(KSMULTIPLE_ITEM);
  for (ULONG n = 0; n < items->Count; ++n) {
    if (static_cast<ULONG>(end - at) < sizeof(KSDATARANGE)) return STATUS_INVALID_PARAMETER;
    auto* client = reinterpret_cast<KSDATARANGE*>(const_cast<UCHAR*>(at));
    if (client->FormatSize < sizeof(KSDATARANGE) ||
        client->FormatSize > static_cast<ULONG>(end - at))
      return STATUS_INVALID_PARAMETER;
    for (ULONG k = 0; k < ks.DataRangesCount && !IsAttributeList(ks, k); ++k) {
      PKSDATARANGE mine = ks.DataRanges[k];
      if (!Matches(client->MajorFormat, mine->MajorFormat) ||
          !Matches(client->SubFormat, mine->SubFormat) ||
          !Matches(client->Specifier, mine->Specifier))
        continue;
      ULONG length = 0;
      NTSTATUS status = filter->miniport->DataRangeIntersection(
          pinId, client, mine, request.outputLength, request.output, &length);
      if (status == STATUS_SUCCESS || status == STATUS_BUFFER_OVERFLOW) {
        request.information = length;
        return status;
      }
      if (status == STATUS_BUFFER_TOO_SMALL) return status;
    }
    const ULONG step = AlignUp8(client->FormatSize);
    if (step >= static_cast<ULONG>(end - at)) break;
    at += step;
  }
  return STATUS_NO_MATCH;
}

NTSTATUS PinFactoryProperty(Request& request, FilterInstance* filter) {
  const PCFILTER_DESCRIPTOR* description = filter->filter;
  if (request.Property().Id == KSPROPERTY_PIN_CTYPES) return request.ReplyValue(description->PinCount);
  const KSP_PIN* property = request.InputAs<KSP_PIN>();
  if (property == nullptr) return STATUS_INVALID_PARAMETER;
  const PCPIN_DESCRIPTOR* pin = PinDescriptor(description, property->PinId);
  if (pin == nullptr) return STATUS_INVALID_PARAMETER;
  const KSPIN_DESCRIPTOR& ks = pin->KsPinDescriptor;
  switch (request.Property().Id) {
    case KSPROPERTY_PIN_DATAFLOW:
      return request.ReplyValue(ks.DataFlow);
    case KSPROPERTY_PIN_COMMUNICATION:
      return request.ReplyValue(ks.Communication);
    case KSPROPERTY_PIN_CATEGORY:
      if (ks.Category == nullptr) return STATUS_NOT_FOUND;
      return request.ReplyValue(*ks.Category);
    case KSPROPERTY_PIN_CINSTANCES:
      return request.ReplyValue(KSPIN_CINSTANCES{pin->MaxFilterInstanceCount,
                                                 filter->port->PinInstances(property->PinId)});
    case KSPROPERTY_PIN_DATARANGES:
      return DataRanges(request, ks);
    case KSPROPERTY_PIN_DATAINTERSECTION:
      return DataIntersection(request, filter, property->PinId, ks);
    default:
      return STATUS_NOT_FOUND;
  }
}

// The modes GetModes lists for a pin, in pool memory of the framework (null when there are
// none); a pin it gives no modes (a bridge pin) has none.
NTSTATUS ListModes(IMiniportAudioSignalProcessing* processing, ULONG pinId, GUID** modes,
                   ULONG* count) {
  *modes = nullptr;
  *count = 0;
  ULONG wanted = 0;
  NTSTATUS status = processing->GetModes(pinId, nullptr, &wanted);
  if (status == STATUS_NOT_SUPPORTED) return STATUS_SUCCESS;
  if (!NT_SUCCESS(status) || wanted == 0) return status;
  if (wanted > (kMaxRequestBytes - sizeof(KSMULTIPLE_ITEM)) / sizeof(GUID))
    return STATUS_INVALID_DEVICE_STATE;  // beyond any miniport's modes
  auto* list = static_cast<GUID*>(ExAllocatePoolZero(NonPagedPoolNx, wanted * sizeof(GUID), kFilterTag));
  if (list == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG listed = wanted;
  status = processing->GetModes(pinId, list, &listed);
  if (!NT_SUCCESS(status)) {
    ExFreePoolWithTag(list, kFilterTag);
    return status;
  }
  *modes = list;
  *count = listed < wanted ? listed : wanted;
  return STATUS_SUCCESS;
}

// The signal-processing modes of a pin factory: a KSMULTIPLE_ITEM and one GUID per mode.
NTSTATUS SignalProcessingModes(Request& request, FilterInstance* filter) {
  if (request.Property().Id != KSPROPERTY_AUDIOSIGNALPROCESSING_MODES) return STATUS_NOT_FOUND;
  const KSP_PIN* property = request.InputAs<KSP_PIN>();
  if (property == nullptr || PinDescriptor(filter->filter, property->PinId) == nullptr)
    return STATUS_INVALID_PARAMETER;
  PVOID object = nullptr;
  if (!NT_SUCCESS(filter->miniport->QueryInterface(IID_IMiniportAudioSignalProcessing, &object)))
    return STATUS_NOT_FOUND;
  auto* processing = static_cast<IMiniportAudioSignalProcessing*>(object);
  GUID* modes = nullptr;
  ULONG count = 0;
  NTSTATUS status = ListModes(processing, property->PinId, &modes, &count);
  processing->Release();
  if (!NT_SUCCESS(status)) return status;
  const ULONG size = sizeof(KSMULTIPLE_ITEM) + count * sizeof(GUID);
  if (request.outputLength == 0) {
    request.information = size;
    status = STATUS_BUFFER_OVERFLOW;
  } else if (request.outputLength < size || request.output == nullptr) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else {
    auto* out = static_cast<UCHAR*>(request.output);
    *reinterpret_cast<KSMULTIPLE_ITEM*>(out) = {size, count};
    if (count != 0) std::memcpy(out + sizeof(KSMULTIPLE_ITEM), modes, count * sizeof(GUID));
    request.information = size;
  }
  if (modes != nullptr) ExFreePoolWithTag(modes, kFilterTag);
  return status;
}

// The filter's shape as the topology property set gives it.
NTSTATUS TopologyProperty(Request& request, FilterInstance* filter) {
  const PCFILTER_DESCRIPTOR* description = filter->filter;
  const bool nodes = request.Property().Id == KSPROPERTY_TOPOLOGY_NODES;
  if (!nodes && request.Property().Id != KSPROPERTY_TOPOLOGY_CONNECTIONS) return STATUS_NOT_FOUND;
  const ULONG count = nodes ? description->NodeCount : description->ConnectionCount;
  const ULONG itemSize = nodes ? sizeof(GUID) : sizeof(KSTOPOLOGY_CONNECTION);
  const ULONG size = sizeof(KSMULTIPLE_ITEM) + count * itemSize;
  if (request.outputLength == 0) {
    request.information = size;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (request.outputLength < size || request.output == nullptr) return STATUS_BUFFER_TOO_SMALL;
  auto* out = static_cast<UCHAR*>(request.output);
  *reinterpret_cast<KSMULTIPLE_ITEM*>(out) = {size, count};
  for (ULONG k = 0; k < count; ++k) {
    UCHAR* item = out + sizeof(KSMULTIPLE_ITEM) + k * itemSize;
    if (nodes) {
      const auto* node = reinterpret_cast<const PCNODE_DESCRIPTOR*>(
          reinterpret_cast<const UCHAR*>(description->Nodes) + SIZE_T{k} * description->NodeSize);
      std::memcpy(item, node->Type, sizeof(GUID));
    } else {
      std::memcpy(item, &description->Connections[k], sizeof(KSTOPOLOGY_CONNECTION));
    }
  }
  request.information = size;
  return STATUS_SUCCESS;
}

// An item of one of the miniport's automation tables: the filter's, or a node's for a request
// flagged as topology.
NTSTATUS AutomationProperty(Request& request, FilterInstance* filter) {
  const PCFILTER_DESCRIPTOR* description = filter->filter;
  const PCAUTOMATION_TABLE* table = description->AutomationTable;
  ULONG node = ULONG(-1);
  ULONG instanceStart = sizeof(KSPROPERTY);
  // One verb at a time, as kernel streaming allows.
  const ULONG verb = request.Verb();
  if (verb != KSPROPERTY_TYPE_GET && verb != KSPROPERTY_TYPE_SET &&
      verb != KSPROPERTY_TYPE_BASICSUPPORT)
    return STATUS_INVALID_PARAMETER;
  if ((request.Property().Flags & KSPROPERTY_TYPE_TOPOLOGY) != 0) {
    const KSP_NODE* property = request.InputAs<KSP_NODE>();
    if (property == nullptr || property->NodeId >= description->NodeCount)
      return STATUS_INVALID_PARAMETER;
    node = property->NodeId;
    table = reinterpret_cast<const PCNODE_DESCRIPTOR*>(
                reinterpret_cast<const UCHAR*>(description->Nodes) +
                SIZE_T{node} * description->NodeSize)
                ->AutomationTable;
    instanceStart = sizeof(KSP_NODE);
  }
  if (table == nullptr || table->PropertyItemSize < sizeof(PCPROPERTY_ITEM)) return STATUS_NOT_FOUND;
  for (ULONG k = 0; k < table->PropertyCount; ++k) {
    const auto* item = reinterpret_cast<const PCPROPERTY_ITEM*>(
        reinterpret_cast<const UCHAR*>(table->Properties) + SIZE_T{k} * table->PropertyItemSize);
    if (*item->Set != request.Property().Set || item->Id != request.Property().Id) continue;
    if ((item->Flags & request.Verb()) == 0 || item->Handler == nullptr) return STATUS_NOT_SUPPORTED;
    PCPROPERTY_REQUEST call = {};
    call.MajorTarget = filter->miniport;
    call.Node = node;
    call.PropertyItem = item;
    call.Verb = request.Verb();
    call.InstanceSize = request.inputLength - instanceStart;
    call.Instance = call.InstanceSize != 0 ? const_cast<UCHAR*>(request.input + instanceStart) : nullptr;
    call.ValueSize = request.outputLength;
    call.Value = request.output;
    call.Irp = request.irp;
    NTSTATUS status = item->Handler(&call);
    // A handler may shrink the value or, for a size query, say how large it must be; a failure
    // hands nothing back.
    if (NT_ERROR(status)) {
      request.information = 0;
    } else if (call.ValueSize <= request.outputLength || status == STATUS_BUFFER_OVERFLOW) {
      request.information = call.ValueSize;
    }
    return status;
  }
  return STATUS_NOT_FOUND;
}

NTSTATUS FilterProperty(Request& request, FilterInstance* filter) {
  const GUID& set = request.Property().Set;
  if (set == KSPROPSETID_Pin && request.Verb() == KSPROPERTY_TYPE_GET)
    return PinFactoryProperty(request, filter);
  if (set == KSPROPSETID_Topology && request.Verb() == KSPROPERTY_TYPE_GET)
    return TopologyProperty(request, filter);
  if (set == KSPROPSETID_AudioSignalProcessing && request.Verb() == KSPROPERTY_TYPE_GET)
    return SignalProcessingModes(request, filter);
  return AutomationProperty(request, filter);
}

NTSTATUS AllocateBuffer(Request& request, PinInstance* pin) {
  const auto* property = request.InputAs<KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION>();
  if (property == nullptr || property->RequestedBufferSize == 0 ||
      property->RequestedBufferSize > kMaxBufferBytes)
    return STATUS_INVALID_PARAMETER;
  if (pin->bufferMdl != nullptr || pin->state != KSSTATE_STOP) return STATUS_INVALID_DEVICE_STATE;
  if (request.outputLength < sizeof(KSRTAUDIO_BUFFER) || request.output == nullptr)
    return STATUS_BUFFER_TOO_SMALL;
  PMDL mdl = nullptr;
  ULONG actual = 0;
  ULONG offset = 0;
  MEMORY_CACHING_TYPE cache = MmCached;
  NTSTATUS status = pin->stream->AllocateBufferWithNotification(
      property->NotificationCount, property->RequestedBufferSize, &mdl, &actual, &offset, &cache);
  if (!NT_SUCCESS(status)) return status;
  pin->bufferMdl = mdl;
  pin->bufferSize = actual;
  KSRTAUDIO_BUFFER buffer = {};
  buffer.BufferAddress = static_cast<UCHAR*>(pin->portStream->MappedAddress()) + offset;
  buffer.ActualBufferSize = actual;
  return request.ReplyValue(buffer);
}

NTSTATUS NotificationEvent(Request& request, PinInstance* pin, bool registering) {
  const auto* property = request.InputAs<KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY>();
  if (property == nullptr) return STATUS_INVALID_PARAMETER;
  PVOID object = nullptr;
  NTSTATUS status = ObReferenceObjectByHandle(property->NotificationEvent, EVENT_MODIFY_STATE,
                                              *ExEventObjectType, request.irp->RequestorMode,
                                              &object, nullptr);
  if (!NT_SUCCESS(status)) return status;
  auto* event = static_cast<PKEVENT>(object);
  if (registering && pin->event != nullptr && pin->event != event) {
    // One event per pin, as the audio engine uses it.
    ObDereferenceObject(event);
    return STATUS_DEVICE_BUSY;
  }
  if (!registering && pin->event != event) {
    ObDereferenceObject(event);
    return STATUS_NOT_FOUND;
  }
  status = registering ? pin->stream->RegisterNotificationEvent(event)
                       : pin->stream->UnregisterNotificationEvent(event);
  if (registering && NT_SUCCESS(status)) {
    pin->event = event;  // keeps this reference
    return status;
  }
  // Unregistered, or registered twice (which the stream takes as unregistering): both
  // references go.
  ObDereferenceObject(event);
  if (pin->event == event) {
    pin->event = nullptr;
    ObDereferenceObject(event);
  }
  return status;
}

NTSTATUS PinProperty(Request& request, PinInstance* pin) {
  const KSPROPERTY& property = request.Property();
  const ULONG verb = request.Verb();
  if (property.Set == KSPROPSETID_Connection && property.Id == KSPROPERTY_CONNECTION_STATE) {
    if (verb == KSPROPERTY_TYPE_GET) return request.ReplyValue(pin->state);
    if (verb != KSPROPERTY_TYPE_SET) return STATUS_NOT_SUPPORTED;
    if (request.outputLength < sizeof(KSSTATE) || request.output == nullptr)
      return STATUS_BUFFER_TOO_SMALL;
    // A client's value is any 32 bits: it is an enumerator only once checked.
    ULONG target = 0;
    std::memcpy(&target, request.output, sizeof(target));
    if (target > KSSTATE_RUN) return STATUS_INVALID_PARAMETER;
    return StepPinState(pin, static_cast<KSSTATE>(target));
  }
  if (property.Set == KSPROPSETID_RtAudio) {
    switch (property.Id) {
      case KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION:
        return AllocateBuffer(request, pin);
      case KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT:
        return NotificationEvent(request, pin, true);
      case KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT:
        return NotificationEvent(request, pin, false);
      case KSPROPERTY_RTAUDIO_HWLATENCY: {
        KSRTAUDIO_HWLATENCY latency = {};
        pin->stream->GetHWLatency(&latency);
        return request.ReplyValue(latency);
      }
      default:
        return STATUS_NOT_FOUND;
    }
  }
  if (property.Set == KSPROPSETID_Audio && property.Id == KSPROPERTY_AUDIO_POSITION &&
      verb == KSPROPERTY_TYPE_GET) {
    KSAUDIO_POSITION position = {};
    NTSTATUS status = pin->stream->GetPosition(&position);
    return NT_SUCCESS(status) ? request.ReplyValue(position) : status;
  }
  return STATUS_NOT_FOUND;
}

}  // namespace

NTSTATUS KsPropertyRequest(PIRP Irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const PVOID input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
  Irp->IoStatus.Information = 0;
  if (input == nullptr || inputLength < sizeof(KSPROPERTY) || inputLength > kMaxRequestBytes) {
    TRACE_POINT(kTracePcPropertyRefused, inputLength);
    return CompleteIrp(Irp, STATUS_INVALID_PARAMETER);
  }
  auto* copy = static_cast<UCHAR*>(ExAllocatePoolZero(NonPagedPoolNx, inputLength, kFilterTag));
  if (copy == nullptr) return CompleteIrp(Irp, STATUS_INSUFFICIENT_RESOURCES);
  std::memcpy(copy, input, inputLength);
  Request request = {copy, inputLength, Irp->UserBuffer,
                     stack->Parameters.DeviceIoControl.OutputBufferLength, 0, Irp};
  NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
  if (PinInstance* pin = PinOf(stack->FileObject)) {
    status = PinProperty(request, pin);
  } else if (FilterInstance* filter = FilterOf(stack->FileObject)) {
    status = FilterProperty(request, filter);
  }
  ExFreePoolWithTag(copy, kFilterTag);
  Irp->IoStatus.Information = request.information;
  return CompleteIrp(Irp, status);
}

}  // namespace tarnlink::portcls
