// CUSBAudioCL: what formats a direction offers, asked before one is chosen.
#include "audio_control.h"
#include "format_checks.h"

namespace {

BOOLEAN OffersTag(const AltFormat& format, BOOLEAN uac2, USHORT formatTag) {
  if (uac2) {
    const ULONG wanted = formatTag == Value(FormatTag::Pcm)
                             ? (uac::format2::kPcm | uac::format2::kPcm8)
                             : uac::format2::kIeeeFloat;
    return (format.bmFormats & wanted) != 0;
  }
  if (formatTag == Value(FormatTag::Pcm)) {
    return format.wFormatTag == uac::format1::kPcm || format.wFormatTag == uac::format1::kPcm8;
  }
  return format.wFormatTag == uac::format1::kIeeeFloat;
}

VOID TakeMaximum(PULONG maximum, ULONG value) {
  if (value > *maximum) *maximum = value;
}

}  // namespace

NTSTATUS CUSBAudioControl::GetMaxFormat(ULONG direction, USHORT formatTag, ULONG rate,
                                        PULONG outChannels, PULONG outContainerBits) {
  PAGED_CODE();
  *outChannels = 0;
  *outContainerBits = 0;
  if (formatTag != Value(FormatTag::Pcm) && formatTag != Value(FormatTag::IeeeFloat)) {
    return STATUS_NOT_SUPPORTED;
  }
  USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  if (m_Model.IsUAC2()) {
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
    ULONG minimum = 0;
    ULONG maximum = 0;
    if (clock != nullptr) clock->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF);
    if (rate < minimum || rate > maximum) return STATUS_NO_MATCH;
  }
  // Audio 1.0: the rates seen so far, over the settings examined in order.
  ULONG lowest = 0xFFFFFFFF;
  ULONG highest = 0;
  for (ULONG alt = 0; alt < record->AltSettingCount; ++alt) {
    AltFormat format;
    if (!ReadAltFormat(record->AltSettings[alt], m_Model.IsUAC2(), &format) ||
        !OffersTag(format, m_Model.IsUAC2(), formatTag)) {
      continue;
    }
    if (!m_Model.IsUAC2()) {
      ULONG low = 0;
      ULONG high = 0;
      Uac1RateBounds(format.uac1Rates, &low, &high);
      if (low < lowest) lowest = low;
      if (high > highest) highest = high;
      if (rate < lowest || rate > highest) continue;
    }
    TakeMaximum(outChannels, format.channels);
    TakeMaximum(outContainerBits, format.containerBits);
  }
  if (*outChannels == 0 || *outContainerBits == 0) return STATUS_NO_MATCH;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::GetFormatLimits(ULONG direction, PULONG outChannels,
                                           PULONG outMinContainerBits, PULONG outMaxContainerBits,
                                           PULONG outMinRate, PULONG outMaxRate) {
  PAGED_CODE();
  *outChannels = 0;
  *outMinContainerBits = 0;
  *outMaxContainerBits = 0;
  *outMinRate = 0;
  *outMaxRate = 0;
  USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_PARAMETER;
  for (ULONG alt = 0; alt < record->AltSettingCount; ++alt) {
    AltFormat format;
    if (!ReadAltFormat(record->AltSettings[alt], m_Model.IsUAC2(), &format)) continue;
    TakeMaximum(outChannels, format.channels);
    TakeMaximum(outMaxContainerBits, format.containerBits);
    if (*outMinContainerBits == 0 || format.containerBits < *outMinContainerBits) {
      *outMinContainerBits = format.containerBits;
    }
    if (!m_Model.IsUAC2()) {
      ULONG low = 0;
      ULONG high = 0;
      Uac1RateBounds(format.uac1Rates, &low, &high);
      if (*outMinRate == 0 || low < *outMinRate) *outMinRate = low;
      TakeMaximum(outMaxRate, high);
    }
  }
  if (!m_Model.IsUAC2()) return STATUS_SUCCESS;
  CUSBAudioClock* clock = m_Model.TerminalClock(record);
  if (clock == nullptr) return STATUS_NOT_SUPPORTED;
  return clock->GetSampleRateRange(outMinRate, outMaxRate, 0, 0xFFFFFFFF);
}
