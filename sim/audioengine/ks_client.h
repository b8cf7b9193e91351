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
// The filter's nodes (KSPROPERTY_TOPOLOGY_NODES: one GUID each) or connections
// (KSPROPERTY_TOPOLOGY_CONNECTIONS: one KSTOPOLOGY_CONNECTION each), after asking the size first.
NTSTATUS TopologyBytes(HANDLE filter, ULONG id, ULONG itemSize, std::vector<uint8_t>* items);
template <typename T>
NTSTATUS TopologyItems(HANDLE filter, ULONG id, std::vector<T>* items) {
  std::vector<uint8_t> bytes;
  NTSTATUS status = TopologyBytes(filter, id, sizeof(T), &bytes);
  items->resize(bytes.size() / sizeof(T));
  if (!bytes.empty()) std::memcpy(items->data(), bytes.data(), bytes.size());
  return status;
}
// The format the filter proposes for a client range on the pin, after asking its size first.
NTSTATUS Intersect(HANDLE filter, ULONG pinId, const KSDATARANGE_AUDIO& client,
                   std::vector<uint8_t>* format);

// Pin requests.
NTSTATUS SetState(HANDLE pin, KSSTATE state);
NTSTATUS AllocateBuffer(HANDLE pin, ULONG bytes, ULONG notifications, KSRTAUDIO_BUFFER* buffer);
NTSTATUS RegisterEvent(HANDLE pin, HANDLE event, bool registering = true);
NTSTATUS Position(HANDLE pin, KSAUDIO_POSITION* position);

}  // namespace sim::audioengine
