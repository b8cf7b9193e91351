#include "sim/audioengine/endpoint_controls.h"

#include "sim/audioengine/ks_client.h"

namespace sim::audioengine {

NTSTATUS ReadNodeControl(HANDLE filter, ULONG node, ULONG property, NodeControl* control) {
  *control = {};
  control->node = node;
  control->property = property;
  std::vector<KSPROPERTY_STEPPING_LONG> ranges;
  control->status = NodeChannelRanges(filter, node, property, &ranges);
  for (size_t k = 0; k < ranges.size(); ++k) {
    ChannelControl channel;
    channel.channel = static_cast<LONG>(k);
    channel.range = ranges[k];
    channel.status = GetNodeValue(filter, node, property, channel.channel, &channel.value);
    control->channels.push_back(channel);
  }
  return control->status;
}

NTSTATUS ReadEndpointControls(HANDLE filter, EndpointControls* controls) {
  *controls = {};
  controls->componentStatus = ComponentId(filter, &controls->component);
  ULONG pins = 0;
  NTSTATUS status = PinCount(filter, &pins);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG pin = 0; pin < pins; ++pin) {
    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
    status = PinValue(filter, KSPROPERTY_PIN_COMMUNICATION, pin, &communication);
    if (!NT_SUCCESS(status)) return status;
    PinModes modes;
    modes.pin = pin;
    modes.status = SignalProcessingModes(filter, pin, &modes.modes);
    controls->modes.push_back(modes);
    if (communication != KSPIN_COMMUNICATION_BRIDGE && communication != KSPIN_COMMUNICATION_NONE)
      continue;
    JackControl jack;
    jack.pin = pin;
    jack.status = JackDescription(filter, pin, &jack.description);
    jack.status2 = JackDescription2(filter, pin, &jack.description2);
    controls->jacks.push_back(jack);
  }
  std::vector<GUID> nodes;
  status = TopologyItems(filter, KSPROPERTY_TOPOLOGY_NODES, &nodes);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG node = 0; node < nodes.size(); ++node) {
    ULONG property = 0;
    if (nodes[node] == KSNODETYPE_VOLUME) {
      property = KSPROPERTY_AUDIO_VOLUMELEVEL;
    } else if (nodes[node] == KSNODETYPE_MUTE) {
      property = KSPROPERTY_AUDIO_MUTE;
    } else {
      continue;
    }
    NodeControl control;
    ReadNodeControl(filter, node, property, &control);
    controls->nodes.push_back(control);
  }
  return STATUS_SUCCESS;
}

}  // namespace sim::audioengine
