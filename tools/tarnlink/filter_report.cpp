// The wave filter as the operating system's audio engine finds it: its device interface, then
// pins, data ranges, nodes and connections through kernel-streaming property requests.
#include <algorithm>
#include <cstring>

#include "device_report.h"
#include "kernel/pnp_host.h"
#include "sim/audioengine/ks_client.h"
#include "usb_names.h"

namespace tarnlink::tool {
namespace {

using sim::audioengine::PinValue;

struct GuidName {
  const GUID* guid;
  const char* name;
};

std::string NodeTypeName(const GUID& type) {
  static const GuidName kNames[] = {
      {&KSNODETYPE_ADC, "ADC"},         {&KSNODETYPE_DAC, "DAC"},
      {&KSNODETYPE_MUTE, "MUTE"},       {&KSNODETYPE_VOLUME, "VOLUME"},
      {&KSNODETYPE_TONE, "TONE"},       {&KSNODETYPE_EQUALIZER, "EQUALIZER"},
      {&KSNODETYPE_AGC, "AGC"},         {&KSNODETYPE_DELAY, "DELAY"},
      {&KSNODETYPE_LOUDNESS, "LOUDNESS"}, {&KSNODETYPE_DEV_SPECIFIC, "DEV_SPECIFIC"},
  };
  for (const GuidName& n : kNames) {
    if (*n.guid == type) return n.name;
  }
  return "unknown";
}

std::string SubFormatName(const GUID& subFormat) {
  static const GuidName kNames[] = {
      {&KSDATAFORMAT_SUBTYPE_PCM, "PCM"},   {&KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, "IEEE_FLOAT"},
      {&KSDATAFORMAT_SUBTYPE_ALAW, "ALAW"}, {&KSDATAFORMAT_SUBTYPE_MULAW, "MULAW"},
      {&KSDATAFORMAT_SUBTYPE_WILDCARD, "any"},
  };
  for (const GuidName& n : kNames) {
    if (*n.guid == subFormat) return n.name;
  }
  return "unknown";
}

DataRangeReport DescribeRange(const std::vector<uint8_t>& bytes) {
  DataRangeReport r;
  KSDATARANGE range = {};
  std::memcpy(&range, bytes.data(), std::min(bytes.size(), sizeof(range)));
  r.attributes = (range.Flags & KSDATARANGE_ATTRIBUTES) != 0;
  if (range.SubFormat == KSDATAFORMAT_SUBTYPE_ANALOG) {
    r.kind = "analog";
    return r;
  }
  if (bytes.size() < sizeof(KSDATARANGE_AUDIO) ||
      range.Specifier != KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) {
    r.kind = "other";
    return r;
  }
  KSDATARANGE_AUDIO audio = {};
  std::memcpy(&audio, bytes.data(), sizeof(audio));
  r.kind = "audio";
  r.subFormat = SubFormatName(range.SubFormat);
  r.channels = audio.MaximumChannels;
  r.minBits = audio.MinimumBitsPerSample;
  r.maxBits = audio.MaximumBitsPerSample;
  r.minRate = audio.MinimumSampleFrequency;
  r.maxRate = audio.MaximumSampleFrequency;
  return r;
}

const char* CommunicationName(KSPIN_COMMUNICATION communication) {
  static const char* const kNames[] = {"none", "sink", "source", "both", "bridge"};
  return communication <= KSPIN_COMMUNICATION_BRIDGE ? kNames[communication] : "unknown";
}

FilterEnd End(ULONG node, ULONG pin) {
  FilterEnd end;
  if (node != KSFILTER_NODE) end.node = node;
  end.pin = pin;
  return end;
}

FilterReport ReadFilter(HANDLE filter) {
  FilterReport r;
  ULONG count = 0;
  sim::audioengine::PinCount(filter, &count);
  for (ULONG id = 0; id < count; ++id) {
    FilterPinReport pin;
    pin.id = id;
    KSPIN_DATAFLOW flow = KSPIN_DATAFLOW_IN;
    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
    GUID category = {};
    PinValue(filter, KSPROPERTY_PIN_DATAFLOW, id, &flow);
    PinValue(filter, KSPROPERTY_PIN_COMMUNICATION, id, &communication);
    pin.dataFlow = flow == KSPIN_DATAFLOW_IN ? "in" : "out";
    pin.communication = CommunicationName(communication);
    pin.category = NT_SUCCESS(PinValue(filter, KSPROPERTY_PIN_CATEGORY, id, &category))
                       ? CategoryName(category)
                       : "none";
    std::vector<std::vector<uint8_t>> ranges;
    if (NT_SUCCESS(sim::audioengine::PinDataRanges(filter, id, &ranges))) {
      for (const auto& bytes : ranges) pin.ranges.push_back(DescribeRange(bytes));
    }
    r.pins.push_back(std::move(pin));
  }
  std::vector<GUID> nodes;
  sim::audioengine::TopologyItems(filter, KSPROPERTY_TOPOLOGY_NODES, &nodes);
  for (const GUID& type : nodes) r.nodes.push_back(NodeTypeName(type));
  std::vector<KSTOPOLOGY_CONNECTION> connections;
  sim::audioengine::TopologyItems(filter, KSPROPERTY_TOPOLOGY_CONNECTIONS, &connections);
  for (const KSTOPOLOGY_CONNECTION& c : connections) {
    r.connections.emplace_back(End(c.FromNode, c.FromNodePin), End(c.ToNode, c.ToNodePin));
  }
  return r;
}

}  // namespace

std::string CategoryName(const GUID& category) {
  if (category == KSCATEGORY_AUDIO) return "AUDIO";
  const GUID terminalZero = KsNodeTypeOfUsbTerminal(0);
  GUID rest = category;
  rest.Data1 = terminalZero.Data1;
  const uint32_t type = category.Data1 - terminalZero.Data1;
  if (rest == terminalZero && type <= 0xFFFF) return TerminalTypeName(static_cast<uint16_t>(type));
  return "unknown";
}

std::optional<FilterReport> DescribeFilter() {
  const auto interfaces = io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true);
  if (interfaces.empty()) return std::nullopt;
  HANDLE filter = nullptr;
  if (!NT_SUCCESS(sim::audioengine::OpenFilter(interfaces[0].symbolicLink, &filter))) {
    return std::nullopt;
  }
  FilterReport r = ReadFilter(filter);
  ZwClose(filter);
  return r;
}

}  // namespace tarnlink::tool
