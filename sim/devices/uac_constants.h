// USB Audio Device Class 1.0 and 2.0 codes the simulated devices speak.
#pragma once

#include <cstdint>

namespace sim::devices::uac {

// Interface subclasses and the 2.0 protocol code.
inline constexpr uint8_t kSubclassAudioControl = 0x01;
inline constexpr uint8_t kSubclassAudioStreaming = 0x02;
inline constexpr uint8_t kProtocolVersion2 = 0x20;

// Class-specific descriptor types.
inline constexpr uint8_t kCsInterface = 0x24;
inline constexpr uint8_t kCsEndpoint = 0x25;

// Audio control interface descriptor subtypes.
inline constexpr uint8_t kAcHeader = 0x01;
inline constexpr uint8_t kAcInputTerminal = 0x02;
inline constexpr uint8_t kAcOutputTerminal = 0x03;
inline constexpr uint8_t kAcMixerUnit = 0x04;
inline constexpr uint8_t kAcSelectorUnit = 0x05;
inline constexpr uint8_t kAcFeatureUnit = 0x06;
inline constexpr uint8_t kAc1ProcessingUnit = 0x07;
inline constexpr uint8_t kAc1ExtensionUnit = 0x08;
inline constexpr uint8_t kAc2ClockSource = 0x0A;
inline constexpr uint8_t kAc2ClockSelector = 0x0B;
inline constexpr uint8_t kAc2ClockMultiplier = 0x0C;

// Audio streaming interface and endpoint descriptor subtypes.
inline constexpr uint8_t kAsGeneral = 0x01;
inline constexpr uint8_t kAsFormatType = 0x02;
inline constexpr uint8_t kEpGeneral = 0x01;
inline constexpr uint8_t kFormatTypeI = 0x01;

// Terminal types.
inline constexpr uint16_t kTerminalUsbStreaming = 0x0101;
inline constexpr uint16_t kTerminalMicrophone = 0x0201;
inline constexpr uint16_t kTerminalSpeaker = 0x0301;
inline constexpr uint16_t kTerminalHeadphones = 0x0302;
inline constexpr uint16_t kTerminalHeadset = 0x0402;
inline constexpr uint16_t kTerminalLineConnector = 0x0603;

// Audio 1.0 request codes.
inline constexpr uint8_t kSetCur = 0x01;
inline constexpr uint8_t kGetCur = 0x81;
inline constexpr uint8_t kGetMin = 0x82;
inline constexpr uint8_t kGetMax = 0x83;
inline constexpr uint8_t kGetRes = 0x84;
// Audio 2.0 request codes (direction comes from bmRequestType).
inline constexpr uint8_t kCur = 0x01;
inline constexpr uint8_t kRange = 0x02;

// Control selectors.
inline constexpr uint8_t kFuMute = 0x01;
inline constexpr uint8_t kFuVolume = 0x02;
// The volume value that stands for silence (minus infinity), in both class versions.
inline constexpr int16_t kVolumeSilence = static_cast<int16_t>(0x8000);
inline constexpr uint8_t kEpSamplingFreq = 0x01;
inline constexpr uint8_t kCsSamFreq = 0x01;
inline constexpr uint8_t kCsClockValid = 0x02;
inline constexpr uint8_t kCxClockSelector = 0x01;
inline constexpr uint8_t kTeConnector = 0x02;

// Audio 1.0 wFormatTag and Audio 2.0 bmFormats (type I).
inline constexpr uint16_t kFormatTagPcm = 0x0001;
inline constexpr uint16_t kFormatTagPcm8 = 0x0002;
inline constexpr uint16_t kFormatTagIeeeFloat = 0x0003;
inline constexpr uint32_t kFormatPcm = 1u << 0;
inline constexpr uint32_t kFormatPcm8 = 1u << 1;
inline constexpr uint32_t kFormatIeeeFloat = 1u << 2;

// Audio 2.0 clock source bmAttributes.
inline constexpr uint8_t kClockExternal = 0x00;
inline constexpr uint8_t kClockInternalFixed = 0x01;
inline constexpr uint8_t kClockInternalVariable = 0x02;
inline constexpr uint8_t kClockInternalProgrammable = 0x03;

// The vendor request that switches a streaming interface between PCM and native DSD.
inline constexpr uint8_t kStreamKindRequestType = 0x41;
inline constexpr uint8_t kStreamKindRequest = 0x00;
inline constexpr uint16_t kStreamKindPcm = 0;
inline constexpr uint16_t kStreamKindDsd = 1;
// DSD silence: the byte pattern a DSD converter idles with.
inline constexpr uint8_t kDsdIdleByte = 0x96;

// Two-bit control fields of the 2.0 bmControls words.
inline constexpr uint32_t kControlReadable = 0x1;
inline constexpr uint32_t kControlProgrammable = 0x3;
inline constexpr bool ControlReadable(uint32_t bmControls, unsigned position) {
  return ((bmControls >> (2 * position)) & 0x1) != 0;
}
inline constexpr bool ControlWritable(uint32_t bmControls, unsigned position) {
  return ((bmControls >> (2 * position)) & 0x3) == 0x3;
}

}  // namespace sim::devices::uac
