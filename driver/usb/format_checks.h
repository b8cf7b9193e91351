// What format selection and the format queries read from one alternate setting, for both class
// versions, from descriptors the model has already checked for length.
#pragma once

#include "audio_descriptors.h"
#include "driver_types.h"
#include "kernel_mode.h"

struct USBAudioAltSetting;

// A type I alternate setting with both its general and its format descriptor.
struct AltFormat {
  ULONG channels;
  ULONG containerBits;
  ULONG bitResolution;
  USHORT wFormatTag;              // 1.0
  ULONG bmFormats;                // 2.0
  const FormatTypeI1* uac1Rates;  // 1.0: the rate description
};

// False when the setting lacks either descriptor or is not type I.
BOOLEAN ReadAltFormat(const USBAudioAltSetting& setting, BOOLEAN uac2, AltFormat* format);

// Does the class's format code agree with a WAVE format tag?
BOOLEAN Uac1TagAgrees(USHORT wFormatTag, USHORT formatTag);
BOOLEAN Uac2FormatsAgree(ULONG bmFormats, USHORT formatTag);
// 8-bit samples must be declared as PCM8, wider ones as PCM or IEEE float.
BOOLEAN ResolutionAgrees(const AltFormat& format, BOOLEAN uac2);

BOOLEAN Uac1RateFits(const FormatTypeI1* rates, ULONG rate);
// The lowest and highest rate of a 1.0 rate description.
VOID Uac1RateBounds(const FormatTypeI1* rates, PULONG lowest, PULONG highest);
