#include "sim/audioengine/ks_client.h"

#include <algorithm>
#include <cstring>

namespace sim::audioengine {

std::vector<uint8_t> PropertyRequest(const GUID& set, ULONG id, ULONG flags) {
  KSPROPERTY property = {};
  property.Set = set;
  property.Id = id;
  property.Flags = flags;
  std::vector<uint8_t> bytes(sizeof(property));
  std::memcpy(bytes.data(), &property, sizeof(property));
  return bytes;
}

std::vector<uint8_t> PinRequest(const GUID& set, ULONG id, ULONG pinId) {
  KSP_PIN property = {};
  property.Property.Set = set;
  property.Property.Id = id;
  property.Property.Flags = KSPROPERTY_TYPE_GET;
  property.PinId = pinId;
  std::vector<uint8_t> bytes(sizeof(property));
  std::memcpy(bytes.data(), &property, sizeof(property));
  return bytes;
}

std::vector<uint8_t> NodeRequest(const GUID& set, ULONG id, ULONG flags, ULONG node,
                                 LONG channel) {
  KSNODEPROPERTY_AUDIO_CHANNEL property = {};
  property.NodeProperty.Property.Set = set;
  property.NodeProperty.Property.Id = id;
  property.NodeProperty.Property.Flags = flags | KSPROPERTY_TYPE_TOPOLOGY;
  property.NodeProperty.NodeId = node;
  property.Channel = channel;
  std::vector<uint8_t> bytes(sizeof(property));
  std::memcpy(bytes.data(), &property, sizeof(property));
  return bytes;
}

NTSTATUS KsProperty(HANDLE file, const std::vector<uint8_t>& request, void* value,
                    ULONG valueSize, ULONG_PTR* returned) {
  IO_STATUS_BLOCK status = {};
  NTSTATUS result = ZwDeviceIoControlFile(
      file, nullptr, nullptr, nullptr, &status, IOCTL_KS_PROPERTY,
      const_cast<uint8_t*>(request.data()), static_cast<ULONG>(request.size()), value, valueSize);
  if (returned != nullptr) *returned = status.Information;
  return result;
}

namespace {

NTSTATUS Create(HANDLE root, const std::u16string& name, HANDLE* handle) {
  UNICODE_STRING path = {static_cast<USHORT>(name.size() * sizeof(char16_t)),
                         static_cast<USHORT>(name.size() * sizeof(char16_t)),
                         const_cast<PWSTR>(reinterpret_cast<const WCHAR*>(name.data()))};
  OBJECT_ATTRIBUTES attributes = {};
  InitializeObjectAttributes(&attributes, &path, OBJ_KERNEL_HANDLE, root, nullptr);
  IO_STATUS_BLOCK status = {};
  return ZwCreateFile(handle, GENERIC_READ | GENERIC_WRITE, &attributes, &status, nullptr, 0, 0,
                      FILE_OPEN, 0, nullptr, 0);
}

}  // namespace

NTSTATUS OpenFilter(const std::u16string& interfacePath, HANDLE* filter) {
  return Create(nullptr, interfacePath, filter);
}

NTSTATUS CreatePin(HANDLE filter, ULONG pinId, const std::vector<uint8_t>& format, HANDLE* pin) {
  KSPIN_CONNECT connect = {};
  connect.PinId = pinId;
  std::vector<uint8_t> bytes(sizeof(connect));
  std::memcpy(bytes.data(), &connect, sizeof(connect));
  bytes.insert(bytes.end(), format.begin(), format.end());
  if (bytes.size() % 2 != 0) bytes.push_back(0);
  std::u16string name = KSSTRING_Pin u"\\";
  const size_t at = name.size();
  name.resize(at + bytes.size() / 2);
  std::memcpy(name.data() + at, bytes.data(), bytes.size());
  return Create(filter, name, pin);
}

NTSTATUS PinCount(HANDLE filter, ULONG* count) {
  return KsProperty(filter, PropertyRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES,
                                            KSPROPERTY_TYPE_GET),
                    count, sizeof(*count));
}

NTSTATUS PinDataRanges(HANDLE filter, ULONG pinId, std::vector<std::vector<uint8_t>>* ranges) {
  const auto request = PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, pinId);
  ULONG_PTR size = 0;
  NTSTATUS status = KsProperty(filter, request, nullptr, 0, &size);
  if (status != STATUS_BUFFER_OVERFLOW) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  std::vector<uint8_t> bytes(size);
  status = KsProperty(filter, request, bytes.data(), static_cast<ULONG>(bytes.size()));
  if (!NT_SUCCESS(status)) return status;
  KSMULTIPLE_ITEM header = {};
  std::memcpy(&header, bytes.data(), sizeof(header));
  size_t at = sizeof(header);
  ranges->clear();
  for (ULONG k = 0; k < header.Count; ++k) {
    at = (at + 7) & ~size_t{7};
    KSDATARANGE range = {};
    std::memcpy(&range, bytes.data() + at, sizeof(range));
    ranges->emplace_back(bytes.begin() + at, bytes.begin() + at + range.FormatSize);
    at += range.FormatSize;
  }
  return STATUS_SUCCESS;
}

NTSTATUS MultipleItemBytes(HANDLE filter, const std::vector<uint8_t>& request, ULONG itemSize,
                           std::vector<uint8_t>* items) {
  items->clear();
  ULONG_PTR size = 0;
  NTSTATUS status = KsProperty(filter, request, nullptr, 0, &size);
  if (status != STATUS_BUFFER_OVERFLOW) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  if (size < sizeof(KSMULTIPLE_ITEM)) return STATUS_INVALID_BUFFER_SIZE;
  std::vector<uint8_t> bytes(size);
  status = KsProperty(filter, request, bytes.data(), static_cast<ULONG>(bytes.size()), &size);
  if (!NT_SUCCESS(status)) return status;
  if (size < sizeof(KSMULTIPLE_ITEM)) return STATUS_INVALID_BUFFER_SIZE;
  KSMULTIPLE_ITEM header = {};
  std::memcpy(&header, bytes.data(), sizeof(header));
  // Never more items than the reply holds, whatever its header claims.
  const size_t fits = (std::min<size_t>(size, bytes.size()) - sizeof(header)) / itemSize;
  const size_t count = std::min<size_t>(header.Count, fits);
  items->assign(bytes.begin() + sizeof(header), bytes.begin() + sizeof(header) + count * itemSize);
  return STATUS_SUCCESS;
}

NTSTATUS Intersect(HANDLE filter, ULONG pinId, const KSDATARANGE_AUDIO& client,
                   std::vector<uint8_t>* format) {
  std::vector<uint8_t> request = PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, pinId);
  const KSMULTIPLE_ITEM items = {sizeof(KSMULTIPLE_ITEM) + sizeof(client), 1};
  const auto* itemBytes = reinterpret_cast<const uint8_t*>(&items);
  request.insert(request.end(), itemBytes, itemBytes + sizeof(items));
  const auto* rangeBytes = reinterpret_cast<const uint8_t*>(&client);
  request.insert(request.end(), rangeBytes, rangeBytes + sizeof(client));
  ULONG_PTR size = 0;
  NTSTATUS status = KsProperty(filter, request, nullptr, 0, &size);
  if (status != STATUS_BUFFER_OVERFLOW) return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
  format->assign(size, 0);
  status = KsProperty(filter, request, format->data(), static_cast<ULONG>(format->size()), &size);
  if (NT_SUCCESS(status)) format->resize(size);
  return status;
}

NTSTATUS ComponentId(HANDLE filter, KSCOMPONENTID* id) {
  return KsProperty(filter, PropertyRequest(KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
                                            KSPROPERTY_TYPE_GET),
                    id, sizeof(*id));
}

namespace {

template <typename Jack>
NTSTATUS ReadJack(HANDLE filter, ULONG id, ULONG pinId, Jack* jack) {
  uint8_t reply[sizeof(KSMULTIPLE_ITEM) + sizeof(Jack)] = {};
  ULONG_PTR size = 0;
  NTSTATUS status =
      KsProperty(filter, PinRequest(KSPROPSETID_Jack, id, pinId), reply, sizeof(reply), &size);
  if (!NT_SUCCESS(status)) return status;
  KSMULTIPLE_ITEM header = {};
  std::memcpy(&header, reply, sizeof(header));
  if (size != sizeof(reply) || header.Count < 1 || header.Size != sizeof(reply))
    return STATUS_INVALID_BUFFER_SIZE;
  std::memcpy(jack, reply + sizeof(header), sizeof(Jack));
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS JackDescription(HANDLE filter, ULONG pinId, KSJACK_DESCRIPTION* jack) {
  return ReadJack(filter, KSPROPERTY_JACK_DESCRIPTION, pinId, jack);
}

NTSTATUS JackDescription2(HANDLE filter, ULONG pinId, KSJACK_DESCRIPTION2* jack) {
  return ReadJack(filter, KSPROPERTY_JACK_DESCRIPTION2, pinId, jack);
}

NTSTATUS SignalProcessingModes(HANDLE filter, ULONG pinId, std::vector<GUID>* modes) {
  return MultipleItems(filter,
                       PinRequest(KSPROPSETID_AudioSignalProcessing,
                                  KSPROPERTY_AUDIOSIGNALPROCESSING_MODES, pinId),
                       modes);
}

NTSTATUS NodeChannelRanges(HANDLE filter, ULONG node, ULONG id,
                           std::vector<KSPROPERTY_STEPPING_LONG>* ranges) {
  ranges->clear();
  const auto request = NodeRequest(KSPROPSETID_Audio, id, KSPROPERTY_TYPE_BASICSUPPORT, node, -1);
  KSPROPERTY_DESCRIPTION description = {};
  NTSTATUS status = KsProperty(filter, request, &description, sizeof(description));
  if (!NT_SUCCESS(status)) return status;
  constexpr size_t kHead = sizeof(KSPROPERTY_DESCRIPTION) + sizeof(KSPROPERTY_MEMBERSHEADER);
  if (description.MembersListCount == 0 || description.DescriptionSize < kHead) return status;
  std::vector<uint8_t> bytes(description.DescriptionSize);
  ULONG_PTR size = 0;
  status = KsProperty(filter, request, bytes.data(), static_cast<ULONG>(bytes.size()), &size);
  if (!NT_SUCCESS(status)) return status;
  if (size < kHead) return STATUS_INVALID_BUFFER_SIZE;
  KSPROPERTY_MEMBERSHEADER header = {};
  std::memcpy(&header, bytes.data() + sizeof(KSPROPERTY_DESCRIPTION), sizeof(header));
  if (header.MembersFlags != KSPROPERTY_MEMBER_STEPPEDRANGES ||
      header.MembersSize != sizeof(KSPROPERTY_STEPPING_LONG))
    return STATUS_NOT_SUPPORTED;
  const size_t fits = (std::min<size_t>(size, bytes.size()) - kHead) / sizeof(KSPROPERTY_STEPPING_LONG);
  ranges->resize(std::min<size_t>(header.MembersCount, fits));
  if (!ranges->empty())
    std::memcpy(ranges->data(), bytes.data() + kHead,
                ranges->size() * sizeof(KSPROPERTY_STEPPING_LONG));
  return STATUS_SUCCESS;
}

NTSTATUS GetNodeValue(HANDLE filter, ULONG node, ULONG id, LONG channel, LONG* value) {
  return KsProperty(filter, NodeRequest(KSPROPSETID_Audio, id, KSPROPERTY_TYPE_GET, node, channel),
                    value, sizeof(*value));
}

NTSTATUS SetNodeValue(HANDLE filter, ULONG node, ULONG id, LONG channel, LONG value) {
  return KsProperty(filter, NodeRequest(KSPROPSETID_Audio, id, KSPROPERTY_TYPE_SET, node, channel),
                    &value, sizeof(value));
}

NTSTATUS SetState(HANDLE pin, KSSTATE state) {
  return KsProperty(pin, PropertyRequest(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                                         KSPROPERTY_TYPE_SET),
                    &state, sizeof(state));
}

NTSTATUS AllocateBuffer(HANDLE pin, ULONG bytes, ULONG notifications, KSRTAUDIO_BUFFER* buffer) {
  KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION property = {};
  property.Property.Set = KSPROPSETID_RtAudio;
  property.Property.Id = KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION;
  property.Property.Flags = KSPROPERTY_TYPE_GET;
  property.RequestedBufferSize = bytes;
  property.NotificationCount = notifications;
  std::vector<uint8_t> request(sizeof(property));
  std::memcpy(request.data(), &property, sizeof(property));
  return KsProperty(pin, request, buffer, sizeof(*buffer));
}

NTSTATUS RegisterEvent(HANDLE pin, HANDLE event, bool registering) {
  KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY property = {};
  property.Property.Set = KSPROPSETID_RtAudio;
  property.Property.Id = registering ? KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT
                                     : KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT;
  property.Property.Flags = KSPROPERTY_TYPE_GET;
  property.NotificationEvent = event;
  std::vector<uint8_t> request(sizeof(property));
  std::memcpy(request.data(), &property, sizeof(property));
  return KsProperty(pin, request, nullptr, 0);
}

NTSTATUS Position(HANDLE pin, KSAUDIO_POSITION* position) {
  return KsProperty(pin, PropertyRequest(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION,
                                         KSPROPERTY_TYPE_GET),
                    position, sizeof(*position));
}

}  // namespace sim::audioengine
