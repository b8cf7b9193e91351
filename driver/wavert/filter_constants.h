// The constant parts of the wave filter's description: the bridge pins' one range, the RAW
// signal-processing attribute appended to the streaming pins' ranges, and the automation tables
// of the filter and of the volume and mute nodes.
#pragma once

#include "kernel_mode.h"

extern const KSDATARANGE g_BridgeRange;
extern KSATTRIBUTE_LIST g_SignalProcessingAttributes;
extern const PCAUTOMATION_TABLE g_FilterAutomation;
extern const PCAUTOMATION_TABLE g_VolumeNodeAutomation;
extern const PCAUTOMATION_TABLE g_MuteNodeAutomation;
