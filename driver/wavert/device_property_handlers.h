// The property requests that reach the device: the jack descriptions of the filter's bridge
// pins, the volume and mute of its feature-unit nodes, and the signal-processing modes of its
// pins. The adapter serves them with its device model and the filter its miniport describes;
// pins and nodes are found through the elements of that filter, which carry the device entity.
#pragma once

#include "kernel_mode.h"
#include "usb_audio_model.h"

// KSPROPERTY_JACK_DESCRIPTION and KSPROPERTY_JACK_DESCRIPTION2 of the pin the instance names.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    HandleJackRequest(const PCFILTER_DESCRIPTOR& filter, PPCPROPERTY_REQUEST request);

// KSPROPERTY_AUDIO_VOLUMELEVEL and KSPROPERTY_AUDIO_MUTE of the request's node.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    HandleNodeRequest(CUSBAudioCL& model, const PCFILTER_DESCRIPTOR& filter,
                      PPCPROPERTY_REQUEST request);

// The modes of a streaming pin (only RAW). Without an array, *count learns how many there are.
NTSTATUS ListSignalProcessingModes(const PCFILTER_DESCRIPTOR& filter, ULONG pin, GUID* modes,
                                   PULONG count);
