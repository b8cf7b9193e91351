// CUSBAudioCL: what formats a direction offers, asked before one is chosen.
#include "format_checks.h"
#include "usb_audio_model.h"

namespace {

BOOLEAN OffersTag(const AltFormat& format, BOOLEAN uac2, USHORT formatTag) {
  if (uac2) {
    const ULONG wanted =
        formatTag == kWaveFormatPcm ? (kFormatBitPcm | kFormatBitPcm8) : kFormatBitIeeeFloat;
    return (format.bmFormats & wanted) != 0;
  }
  if (formatTag == kWaveFormatPcm) return format.wFormatTag == 1 || format.wFormatTag == 2;
  return format.wFormatTag == 3;
}

VOID TakeMaximum(PULONG maximum, ULONG value) {
  if (value > *maximum) *maximum = value;
}

}  // namespace

NTSTATUS CUSBAudioCL::GetMaxFormat(ULONG direction, USHORT formatTag, ULONG rate,
                                   PULONG outChannels, PULONG outContainerBits) {
  *outChannels = 0;
  *outContainerBits = 0;
  if (formatTag != kWaveFormatPcm && formatTag != kWaveFormatIeeeFloat) {
    return STATUS_NOT_SUPPORTED;
  }
  USBAudioStreamInterface* record = StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
  if (m_Uac2) {
    CUSBAudioClock* clock = TerminalClock(record);
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
    if (!ReadAltFormat(record->AltSettings[alt], m_Uac2, &format) ||
        !OffersTag(format, m_Uac2, formatTag)) {
      continue;
    }
    if (!m_Uac2) {
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

NTSTATUS CUSBAudioCL::GetFormatLimits(ULONG direction, PULONG outChannels,
                                      PULONG outMinContainerBits, PULONG outMaxContainerBits,
                                      PULONG outMinRate, PULONG outMaxRate) {
  *outChannels = 0;
  *outMinContainerBits = 0;
  *outMaxContainerBits = 0;
  *outMinRate = 0;
  *outMaxRate = 0;
  USBAudioStreamInterface* record = StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_PARAMETER;
  for (ULONG alt = 0; alt < record->AltSettingCount; ++alt) {
    AltFormat format;
    if (!ReadAltFormat(record->AltSettings[alt], m_Uac2, &format)) continue;
    TakeMaximum(outChannels, format.channels);
    TakeMaximum(outMaxContainerBits, format.containerBits);
    if (*outMinContainerBits == 0 || format.containerBits < *outMinContainerBits) {
      *outMinContainerBits = format.containerBits;
    }
    if (!m_Uac2) {
      ULONG low = 0;
      ULONG high = 0;
      Uac1RateBounds(format.uac1Rates, &low, &high);
      if (*outMinRate == 0 || low < *outMinRate) *outMinRate = low;
      TakeMaximum(outMaxRate, high);
    }
  }
  if (!m_Uac2) return STATUS_SUCCESS;
  CUSBAudioClock* clock = TerminalClock(record);
  if (clock == nullptr) return STATUS_NOT_SUPPORTED;
  return clock->GetSampleRateRange(outMinRate, outMaxRate, 0, 0xFFFFFFFF);
}
