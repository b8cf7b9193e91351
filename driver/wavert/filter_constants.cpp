#include "filter_constants.h"

#include "filter_property_handlers.h"

const KSDATARANGE g_BridgeRange = {{sizeof(KSDATARANGE), 0, 0, 0, KSDATAFORMAT_TYPE_AUDIO,
                                    KSDATAFORMAT_SUBTYPE_ANALOG, KSDATAFORMAT_SPECIFIER_NONE}};

namespace {

KSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE g_RawMode = {
    {sizeof(KSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE), 0, KSATTRIBUTEID_AUDIOSIGNALPROCESSING_MODE},
    AUDIO_SIGNALPROCESSINGMODE_RAW};
PKSATTRIBUTE g_RawModeAttributes[] = {&g_RawMode.AttributeHeader};

constexpr ULONG kGetBasic = PCPROPERTY_ITEM_FLAG_GET | PCPROPERTY_ITEM_FLAG_BASICSUPPORT;
constexpr ULONG kGetSetBasic = kGetBasic | PCPROPERTY_ITEM_FLAG_SET;

const PCPROPERTY_ITEM g_FilterProperties[] = {
    {&KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID, kGetBasic, ComponentIdHandler},
    {&KSPROPSETID_Jack, KSPROPERTY_JACK_DESCRIPTION, kGetBasic, JackPropertyHandler},
    {&KSPROPSETID_Jack, KSPROPERTY_JACK_DESCRIPTION2, kGetBasic, JackPropertyHandler},
};
const PCPROPERTY_ITEM g_VolumeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, kGetSetBasic, NodePropertyHandler},
};
const PCPROPERTY_ITEM g_MuteProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, kGetSetBasic, NodePropertyHandler},
};

constexpr PCAUTOMATION_TABLE PropertiesOnly(const PCPROPERTY_ITEM* items, ULONG count) {
  return {sizeof(PCPROPERTY_ITEM), count, items, 0, 0, nullptr, 0, 0, nullptr, 0};
}

}  // namespace

KSATTRIBUTE_LIST g_SignalProcessingAttributes = {1, g_RawModeAttributes};
const PCAUTOMATION_TABLE g_FilterAutomation =
    PropertiesOnly(g_FilterProperties, ARRAYSIZE(g_FilterProperties));
const PCAUTOMATION_TABLE g_VolumeNodeAutomation =
    PropertiesOnly(g_VolumeProperties, ARRAYSIZE(g_VolumeProperties));
const PCAUTOMATION_TABLE g_MuteNodeAutomation =
    PropertiesOnly(g_MuteProperties, ARRAYSIZE(g_MuteProperties));
