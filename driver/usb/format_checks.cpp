#include "format_checks.h"

#include "audio_stream_records.h"
#include "usb_audio_class.h"

BOOLEAN ReadAltFormat(const USBAudioAltSetting& setting, BOOLEAN uac2, AltFormat* format) {
  *format = {};
  if (setting.GeneralDescriptor == nullptr || setting.FormatDescriptor == nullptr) return FALSE;
  if (uac2) {
    const auto* general = reinterpret_cast<const StreamGeneral2*>(setting.GeneralDescriptor);
    const auto* type = reinterpret_cast<const FormatTypeI2*>(setting.FormatDescriptor);
    if (general->bFormatType != uac::kFormatTypeI || type->bFormatType != uac::kFormatTypeI)
      return FALSE;
    format->channels = general->bNrChannels;
    format->bmFormats = general->bmFormats;
    format->containerBits = 8u * type->bSubslotSize;
    format->bitResolution = type->bBitResolution;
    return TRUE;
  }
  const auto* general = reinterpret_cast<const StreamGeneral1*>(setting.GeneralDescriptor);
  const auto* type = reinterpret_cast<const FormatTypeI1*>(setting.FormatDescriptor);
  if (type->bFormatType != uac::kFormatTypeI) return FALSE;
  format->channels = type->bNrChannels;
  format->wFormatTag = general->wFormatTag;
  format->containerBits = 8u * type->bSubframeSize;
  format->bitResolution = type->bBitResolution;
  format->uac1Rates = type;
  return TRUE;
}

BOOLEAN Uac1TagAgrees(USHORT wFormatTag, USHORT formatTag) {
  switch (wFormatTag) {
    case uac::format1::kPcm:
    case uac::format1::kPcm8:
      return formatTag == Value(FormatTag::Pcm);
    case uac::format1::kIeeeFloat:
      return formatTag == Value(FormatTag::IeeeFloat);
    case uac::format1::kALaw:
      return formatTag == Value(FormatTag::ALaw);
    case uac::format1::kMuLaw:
      return formatTag == Value(FormatTag::MuLaw);
    default:
      return FALSE;
  }
}

BOOLEAN Uac2FormatsAgree(ULONG bmFormats, USHORT formatTag) {
  // Bits 0 to 4: PCM, PCM8, IEEE float, A-law, mu-law. Any other bit names a format no WAVE
  // tag describes.
  constexpr FormatTag kTagOfBit[uac::format2::kBitCount] = {
      FormatTag::Pcm, FormatTag::Pcm, FormatTag::IeeeFloat, FormatTag::ALaw, FormatTag::MuLaw};
  for (ULONG bit = 0; bit < 32; ++bit) {
    if ((bmFormats & (1u << bit)) == 0) continue;
    if (bit >= uac::format2::kBitCount || Value(kTagOfBit[bit]) != formatTag) return FALSE;
  }
  return TRUE;
}

BOOLEAN ResolutionAgrees(const AltFormat& format, BOOLEAN uac2) {
  if (uac2) {
    if (format.bitResolution == 8) return (format.bmFormats & uac::format2::kPcm8) != 0;
    return (format.bmFormats & (uac::format2::kPcm | uac::format2::kIeeeFloat)) != 0;
  }
  if (format.bitResolution == 8) return format.wFormatTag == uac::format1::kPcm8;
  return format.wFormatTag == uac::format1::kPcm || format.wFormatTag == uac::format1::kIeeeFloat;
}

BOOLEAN Uac1RateFits(const FormatTypeI1* rates, ULONG rate) {
  if (rates->bSamFreqType == 0) {
    return rate >= FormatTypeI1Rate(rates, 0) && rate <= FormatTypeI1Rate(rates, 1);
  }
  for (ULONG k = 0; k < rates->bSamFreqType; ++k) {
    if (FormatTypeI1Rate(rates, k) == rate) return TRUE;
  }
  return FALSE;
}

VOID Uac1RateBounds(const FormatTypeI1* rates, PULONG lowest, PULONG highest) {
  if (rates->bSamFreqType == 0) {
    *lowest = FormatTypeI1Rate(rates, 0);
    *highest = FormatTypeI1Rate(rates, 1);
    return;
  }
  *lowest = 0xFFFFFFFF;
  *highest = 0;
  for (ULONG k = 0; k < rates->bSamFreqType; ++k) {
    const ULONG r = FormatTypeI1Rate(rates, k);
    if (r < *lowest) *lowest = r;
    if (r > *highest) *highest = r;
  }
}
