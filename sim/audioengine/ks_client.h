// The kernel-streaming calls a client of the wave filter makes, as typed requests over the
// filter's and pins' handles: what the operating system's audio engine sends. Every call runs
// on a machine thread and uses kernel handles.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_mode.h"

namespace sim::audioengine {

// One IOCTL_KS_PROPERTY: request is the KSPROPERTY and its instance data; value is in or out.
NTSTATUS KsProperty(HANDLE file, const std::vector<uint8_t>& request, void* value,
                    ULONG valueSize, ULONG_PTR* returned = nullptr);
std::vector<uint8_t> PropertyRequest(const GUID& set, ULONG id, ULONG flags);
std::vector<uint8_t> PinRequest(const GUID& set, ULONG id, ULONG pinId);
// A KSNODEPROPERTY_AUDIO_CHANNEL: the property of one channel of a node (-1: the master channel).
std::vector<uint8_t> NodeRequest(const GUID& set, ULONG id, ULONG flags, ULONG node, LONG channel);

NTSTATUS OpenFilter(const std::u16string& interfacePath, HANDLE* filter);
// Creates a pin of the filter with the connect request and format the engine chose.
NTSTATUS CreatePin(HANDLE filter, ULONG pinId, const std::vector<uint8_t>& format, HANDLE* pin);

// Filter queries.
NTSTATUS PinCount(HANDLE filter, ULONG* count);
template <typename T>
NTSTATUS PinValue(HANDLE filter, ULONG id, ULONG pinId, T* value) {
  return KsProperty(filter, PinRequest(KSPROPSETID_Pin, id, pinId), value, sizeof(T));
}
// Each range the pin lists, as bytes.
NTSTATUS PinDataRanges(HANDLE filter, ULONG pinId, std::vector<std::vector<uint8_t>>* ranges);
// The items of a KSMULTIPLE_ITEM reply, after asking its size first; never more than the reply
// holds, whatever its header claims.
NTSTATUS MultipleItemBytes(HANDLE filter, const std::vector<uint8_t>& request, ULONG itemSize,
                           std::vector<uint8_t>* items);
template <typename T>
NTSTATUS MultipleItems(HANDLE filter, const std::vector<uint8_t>& request, std::vector<T>* items) {
  std::vector<uint8_t> bytes;
  NTSTATUS status = MultipleItemBytes(filter, request, sizeof(T), &bytes);
  items->resize(bytes.size() / sizeof(T));
  if (!bytes.empty()) std::memcpy(items->data(), bytes.data(), bytes.size());
  return status;
}
// The filter's nodes (KSPROPERTY_TOPOLOGY_NODES: one GUID each) or connections
// (KSPROPERTY_TOPOLOGY_CONNECTIONS: one KSTOPOLOGY_CONNECTION each).
template <typename T>
NTSTATUS TopologyItems(HANDLE filter, ULONG id, std::vector<T>* items) {
  return MultipleItems(filter, PropertyRequest(KSPROPSETID_Topology, id, KSPROPERTY_TYPE_GET),
                       items);
}
// The format the filter proposes for a client range on the pin, after asking its size first.
NTSTATUS Intersect(HANDLE filter, ULONG pinId, const KSDATARANGE_AUDIO& client,
                   std::vector<uint8_t>* format);

// The filter's component identity.
NTSTATUS ComponentId(HANDLE filter, KSCOMPONENTID* id);
// A bridge pin's jack, as KSPROPERTY_JACK_DESCRIPTION (or ..._DESCRIPTION2) describes it after
// its KSMULTIPLE_ITEM header.
NTSTATUS JackDescription(HANDLE filter, ULONG pinId, KSJACK_DESCRIPTION* jack);
NTSTATUS JackDescription2(HANDLE filter, ULONG pinId, KSJACK_DESCRIPTION2* jack);
// A pin's signal-processing modes, after asking the size first.
NTSTATUS SignalProcessingModes(HANDLE filter, ULONG pinId, std::vector<GUID>* modes);
// The stepped range of each channel of a volume or mute node, from its basic support: the
// description first, then the whole reply it says is there.
NTSTATUS NodeChannelRanges(HANDLE filter, ULONG node, ULONG id,
                           std::vector<KSPROPERTY_STEPPING_LONG>* ranges);
// KSPROPERTY_AUDIO_VOLUMELEVEL (16.16 dB) or KSPROPERTY_AUDIO_MUTE of one channel of a node.
NTSTATUS GetNodeValue(HANDLE filter, ULONG node, ULONG id, LONG channel, LONG* value);
NTSTATUS SetNodeValue(HANDLE filter, ULONG node, ULONG id, LONG channel, LONG value);

// Pin requests.
NTSTATUS SetState(HANDLE pin, KSSTATE state);
NTSTATUS AllocateBuffer(HANDLE pin, ULONG bytes, ULONG notifications, KSRTAUDIO_BUFFER* buffer);
NTSTATUS RegisterEvent(HANDLE pin, HANDLE event, bool registering = true);
NTSTATUS Position(HANDLE pin, KSAUDIO_POSITION* position);

}  // namespace sim::audioengine
