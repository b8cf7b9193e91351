// The codes of the USB Audio Device Class 1.0 and 2.0 this driver uses, each named once and
// grouped as the class definitions group them. Where the two versions give one number different
// meanings, the group says which version it belongs to.
#pragma once

#include "kernel_mode.h"

namespace uac {

inline constexpr USHORT kVersion2 = 0x0200;  // bcdADC of an Audio 2.0 function

// Interface class and subclass codes.
inline constexpr UCHAR kInterfaceClassAudio = 0x01;
inline constexpr UCHAR kInterfaceClassVendor = 0xFF;  // where some devices hide their audio
inline constexpr UCHAR kSubclassAudioControl = 0x01;
inline constexpr UCHAR kSubclassAudioStreaming = 0x02;

// Class-specific descriptor types.
inline constexpr UCHAR kCsInterface = 0x24;
inline constexpr UCHAR kCsEndpoint = 0x25;

// Audio control interface descriptor subtypes, common to both versions.
namespace ac {
inline constexpr UCHAR kHeader = 0x01;
inline constexpr UCHAR kInputTerminal = 0x02;
inline constexpr UCHAR kOutputTerminal = 0x03;
inline constexpr UCHAR kMixerUnit = 0x04;
inline constexpr UCHAR kSelectorUnit = 0x05;
inline constexpr UCHAR kFeatureUnit = 0x06;
}  // namespace ac

// Audio control subtypes of Audio 1.0 from 0x07 on.
namespace ac1 {
inline constexpr UCHAR kProcessingUnit = 0x07;
inline constexpr UCHAR kExtensionUnit = 0x08;
}  // namespace ac1

// Audio control subtypes of Audio 2.0 from 0x07 on.
namespace ac2 {
inline constexpr UCHAR kEffectUnit = 0x07;
inline constexpr UCHAR kProcessingUnit = 0x08;
inline constexpr UCHAR kExtensionUnit = 0x09;
inline constexpr UCHAR kClockSource = 0x0A;
inline constexpr UCHAR kClockSelector = 0x0B;
inline constexpr UCHAR kClockMultiplier = 0x0C;
inline constexpr UCHAR kSampleRateConverter = 0x0D;
}  // namespace ac2

// Audio streaming interface descriptor subtypes.
namespace as {
inline constexpr UCHAR kGeneral = 0x01;
inline constexpr UCHAR kFormatType = 0x02;
}  // namespace as

// Class-specific endpoint descriptor subtypes, and the EP_GENERAL attribute bit of Audio 1.0.
namespace ep {
inline constexpr UCHAR kGeneral = 0x01;
inline constexpr UCHAR kSamplingFrequencyControl = 0x01;
}  // namespace ep

// Format type codes.
inline constexpr UCHAR kFormatTypeI = 0x01;

// Audio 1.0 wFormatTag of AS_GENERAL, type I formats.
namespace format1 {
inline constexpr USHORT kPcm = 0x0001;
inline constexpr USHORT kPcm8 = 0x0002;
inline constexpr USHORT kIeeeFloat = 0x0003;
inline constexpr USHORT kALaw = 0x0004;
inline constexpr USHORT kMuLaw = 0x0005;
}  // namespace format1

// Audio 2.0 bmFormats bits of AS_GENERAL, type I formats (bit 0 upwards).
namespace format2 {
inline constexpr ULONG kPcm = 1u << 0;
inline constexpr ULONG kPcm8 = 1u << 1;
inline constexpr ULONG kIeeeFloat = 1u << 2;
inline constexpr ULONG kALaw = 1u << 3;
inline constexpr ULONG kMuLaw = 1u << 4;
inline constexpr ULONG kBitCount = 5;  // bits past these name formats no WAVE tag describes
}  // namespace format2

// bmRequestType of class requests: direction, type and recipient in one byte.
namespace request_type {
inline constexpr UCHAR kInterfaceSet = 0x21;
inline constexpr UCHAR kEndpointSet = 0x22;
inline constexpr UCHAR kInterfaceGet = 0xA1;
inline constexpr UCHAR kEndpointGet = 0xA2;
}  // namespace request_type

// Audio 1.0 request codes.
namespace request1 {
inline constexpr UCHAR kSetCur = 0x01;
inline constexpr UCHAR kGetFlag = 0x80;  // GET_x is SET_x with this bit
inline constexpr UCHAR kGetCur = 0x81;
}  // namespace request1

// Audio 2.0 request codes (the direction comes from bmRequestType).
namespace request2 {
inline constexpr UCHAR kCur = 0x01;
inline constexpr UCHAR kRange = 0x02;
}  // namespace request2

// Control selectors.
namespace feature_control {
inline constexpr UCHAR kMute = 0x01;
inline constexpr UCHAR kVolume = 0x02;
}  // namespace feature_control

namespace clock_source_control {
inline constexpr UCHAR kSamplingFrequency = 0x01;
inline constexpr UCHAR kClockValid = 0x02;
}  // namespace clock_source_control

namespace clock_selector_control {
inline constexpr UCHAR kSelector = 0x01;
}  // namespace clock_selector_control

namespace terminal_control {
inline constexpr UCHAR kConnector = 0x02;  // Audio 2.0
}  // namespace terminal_control

namespace endpoint_control {
inline constexpr UCHAR kSamplingFrequency = 0x01;  // Audio 1.0
}  // namespace endpoint_control

// The terminal type the driver reports for an entity without a descriptor.
inline constexpr USHORT kTerminalUsbStreaming = 0x0100;

// bmAttributes of an isochronous endpoint: synchronisation type (bits 3..2) and usage (5..4).
namespace endpoint {
inline constexpr UCHAR kSyncTypeMask = 0x0C;
inline constexpr UCHAR kUsageMask = 0x30;
inline constexpr UCHAR kUsageFeedback = 0x10;
inline constexpr UCHAR kUsageImplicitFeedbackData = 0x20;
}  // namespace endpoint

}  // namespace uac
