// What the operating system learns of a wave filter's controls when it opens it, as the
// endpoint builder and the volume control do: the component identity, the jack of every bridge
// pin, the signal-processing modes of every pin, and each volume and mute node with the range
// and current value of its channels. A property the filter refuses is kept with its status;
// reading goes on.
#pragma once

#include <vector>

#include "kernel_mode.h"

namespace sim::audioengine {

struct JackControl {
  ULONG pin = 0;
  NTSTATUS status = STATUS_SUCCESS;  // of the description
  KSJACK_DESCRIPTION description = {};
  NTSTATUS status2 = STATUS_SUCCESS;  // of description 2
  KSJACK_DESCRIPTION2 description2 = {};
};

struct PinModes {
  ULONG pin = 0;
  NTSTATUS status = STATUS_SUCCESS;
  std::vector<GUID> modes;
};

struct ChannelControl {
  LONG channel = 0;
  KSPROPERTY_STEPPING_LONG range = {};
  NTSTATUS status = STATUS_SUCCESS;  // of reading the value
  LONG value = 0;                    // 16.16 dB for a volume, 0 or 1 for a mute
};

struct NodeControl {
  ULONG node = 0;
  ULONG property = 0;  // KSPROPERTY_AUDIO_VOLUMELEVEL or KSPROPERTY_AUDIO_MUTE
  NTSTATUS status = STATUS_SUCCESS;  // of the basic support
  std::vector<ChannelControl> channels;
};

struct EndpointControls {
  NTSTATUS componentStatus = STATUS_SUCCESS;
  KSCOMPONENTID component = {};
  std::vector<JackControl> jacks;
  std::vector<PinModes> modes;
  std::vector<NodeControl> nodes;
};

// Reads everything; fails only when the filter's pins or nodes cannot be listed.
NTSTATUS ReadEndpointControls(HANDLE filter, EndpointControls* controls);
// Reads the channels of one node again (after a change).
NTSTATUS ReadNodeControl(HANDLE filter, ULONG node, ULONG property, NodeControl* control);

}  // namespace sim::audioengine
