// CUSBAudioControl: choosing and selecting the alternate setting for a stream format, and the
// packet bounds the isochronous engine and the stream engine size their transfers by.
#include "audio_control.h"
#include "audio_trace_points.h"
#include "bus_timing.h"
#include "driver_types.h"
#include "format_checks.h"
#include "usb_audio_class.h"

namespace {

enum FormatSkipReason : ULONG {
  kSkipIncomplete = 1,
  kSkipNotTypeI = 2,
  kSkipTag = 3,
  kSkipResolution = 4,
  kSkipRate = 5,
  kSkipRateVerification = 6,
};

// The largest exponent a packet interval is taken to: a serviceable isochronous endpoint never
// comes near it, and it keeps the shift defined for whatever else a device declares.
constexpr ULONG kMaxIntervalExponent = 15;

ULONG ServiceIntervalOf(const USB_ENDPOINT_DESCRIPTOR* endpoint) {
  if (endpoint == nullptr || endpoint->bInterval <= 1) return 1;
  const ULONG exponent = endpoint->bInterval - 1u;
  return 1u << (exponent < kMaxIntervalExponent ? exponent : kMaxIntervalExponent);
}

ULONG PacketCapacity(const USB_ENDPOINT_DESCRIPTOR* endpoint, BOOLEAN highSpeed, ULONG interval) {
  if (endpoint == nullptr) return 0;
  const ULONG w = endpoint->wMaxPacketSize;
  if (!highSpeed) return w;
  return PacketsPerMillisecond(TRUE, interval) * (((w >> 11) & 3) + 1) * (w & 0x7FF);
}

struct PacketValues {
  ULONG frameBytes;  // F
  ULONG nominal;     // N
  ULONG minimum;     // m
  ULONG maximum;     // M
};

// F, N, m and M for `rate` frames per second in packets every `interval` (micro)frames.
PacketValues ComputePacketValues(ULONG channels, ULONG containerBits, ULONG rate, ULONG interval,
                                 BOOLEAN highSpeed) {
  PacketValues v = {};
  v.frameBytes = channels * (containerBits / 8);
  const ULONG64 framesTimesTicks = ULONG64{rate} * interval;
  const ULONG64 ticksPerSecond = highSpeed ? 8000 : 1000;
  const ULONG whole = static_cast<ULONG>(framesTimesTicks / ticksPerSecond);
  v.nominal = v.frameBytes * whole;
  v.maximum = v.nominal + v.frameBytes;
  v.minimum = framesTimesTicks % ticksPerSecond == 0 ? v.nominal - v.frameBytes : v.nominal;
  return v;
}

// Audio 1.0: can the setting's data endpoint be told its sampling frequency?
BOOLEAN HasSamplingFrequencyControl(const USBAudioAltSetting& setting) {
  const auto* general = reinterpret_cast<const EndpointGeneral*>(setting.EndpointGeneralDescriptor);
  return general != nullptr && (general->bmAttributes & uac::ep::kSamplingFrequencyControl) != 0;
}

VOID StorePacketValues(USBAudioStreamInterface* record, const PacketValues& v) {
  record->BytesPerFrame = v.frameBytes;
  record->NominalPacketBytes = static_cast<LONG>(v.nominal);
  record->MinimumPacketBytes = static_cast<LONG>(v.minimum);
  record->MaximumPacketBytes = static_cast<LONG>(v.maximum);
  record->IntegralRate = v.minimum != v.nominal;
}

}  // namespace

BOOLEAN CUSBAudioControl::Uac1RateVerified(USBAudioStreamInterface* record, ULONG alt, ULONG rate) {
  // A capture setting with several rates but no sampling frequency control runs at whatever
  // rate the device picked: ask it, with the setting selected.
  const ULONG previous = record->CurrentAltSetting;
  if (alt != previous) {
    if (!NT_SUCCESS(m_Function.SelectAlternate(record->InterfaceNumber, static_cast<UCHAR>(alt)))) {
      return FALSE;
    }
    record->CurrentAltSetting = alt;
  }
  ULONG actual = 0;
  const NTSTATUS status =
      GetEndpointSampleRate(record->AltSettings[alt].DataEndpoint->bEndpointAddress, &actual);
  if (alt != previous && NT_SUCCESS(m_Function.SelectAlternate(record->InterfaceNumber,
                                                               static_cast<UCHAR>(previous)))) {
    record->CurrentAltSetting = previous;
  }
  return NT_SUCCESS(status) && actual == rate;
}

BOOLEAN CUSBAudioControl::AltSettingPasses(USBAudioStreamInterface* record, ULONG alt,
                                           USHORT formatTag, ULONG rate) {
  const USBAudioAltSetting& setting = record->AltSettings[alt];
  ULONG reason = 0;
  AltFormat format;
  if (setting.DataEndpoint == nullptr || setting.GeneralDescriptor == nullptr ||
      setting.FormatDescriptor == nullptr) {
    reason = kSkipIncomplete;
  } else if (!ReadAltFormat(setting, m_Model.IsUAC2(), &format)) {
    reason = kSkipNotTypeI;
  } else if (m_Model.IsUAC2() ? !Uac2FormatsAgree(format.bmFormats, formatTag)
                              : !Uac1TagAgrees(format.wFormatTag, formatTag)) {
    reason = kSkipTag;
  } else if (!ResolutionAgrees(format, m_Model.IsUAC2())) {
    reason = kSkipResolution;
  } else if (!m_Model.IsUAC2() && !Uac1RateFits(format.uac1Rates, rate)) {
    reason = kSkipRate;
  } else if (!m_Model.IsUAC2() && record->Direction == Value(Direction::Capture) &&
             format.uac1Rates->bSamFreqType >= 2 && !HasSamplingFrequencyControl(setting) &&
             !Uac1RateVerified(record, alt, rate)) {
    reason = kSkipRateVerification;
  }
  if (reason != 0) TRACE_POINT(kTraceFormatSkipped, record->InterfaceNumber, alt, reason);
  return reason == 0;
}

NTSTATUS CUSBAudioControl::FindAltSetting(USBAudioStreamInterface* record, USHORT formatTag,
                                          ULONG channels, ULONG bits, ULONG rate,
                                          PULONG outChannels, PULONG outContainerBits,
                                          PULONG outAltSetting) {
  PAGED_CODE();
  *outChannels = 0;
  *outContainerBits = 0;
  *outAltSetting = 0;
  if (channels == 0 || bits == 0 || rate == 0) return STATUS_SUCCESS;
  if (m_Model.IsUAC2()) {
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
    if (clock == nullptr) return STATUS_NOT_SUPPORTED;
    NTSTATUS status = clock->IsSampleRateSupported(rate);
    if (!NT_SUCCESS(status)) return status;
  }
  ULONG fallback = 0;
  AltFormat best = {};
  for (ULONG alt = 1; alt < record->AltSettingCount; ++alt) {
    if (!AltSettingPasses(record, alt, formatTag, rate)) continue;
    AltFormat format;
    ReadAltFormat(record->AltSettings[alt], m_Model.IsUAC2(), &format);
    if (format.channels == channels && format.bitResolution == bits) {
      *outChannels = format.channels;
      *outContainerBits = format.containerBits;
      *outAltSetting = alt;
      return STATUS_SUCCESS;
    }
    if (format.channels >= best.channels && format.containerBits >= best.containerBits) {
      fallback = alt;
      best = format;
    }
  }
  if (fallback == 0) {
    TRACE_POINT(kTraceFormatNoMatch, record->InterfaceNumber, formatTag, channels, bits, rate);
    return STATUS_NOT_SUPPORTED;
  }
  *outChannels = best.channels;
  *outContainerBits = best.containerBits;
  *outAltSetting = fallback;
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::ApplyFormat(USBAudioStreamInterface* record, ULONG direction,
                                       USHORT formatTag, ULONG channels, ULONG bits, ULONG rate,
                                       BOOLEAN useRateTable, PULONG outChannels,
                                       PULONG outContainerBits, ULONG* outAlt) {
  const BOOLEAN hasFormat = channels != 0 && bits != 0 && rate != 0;
  if (direction == Value(Direction::Playback)) {
    m_Transfers.ClearPlaybackFeedback();
    // The scheduler can only pace rates it has a pattern for; refuse before touching the device.
    if (useRateTable && hasFormat && !m_Transfers.UseRatePattern(rate)) return STATUS_NOT_SUPPORTED;
  }
  NTSTATUS status = FindAltSetting(record, formatTag, channels, bits, rate, outChannels,
                                   outContainerBits, outAlt);
  if (!NT_SUCCESS(status)) return status;
  if (m_Model.IsUAC2() && hasFormat) {
    CUSBAudioClock* clock = m_Model.TerminalClock(record);
    status = clock != nullptr ? clock->SetSampleRate(rate) : STATUS_NOT_SUPPORTED;
    if (!NT_SUCCESS(status)) return status;
  }
  if (*outAlt != record->CurrentAltSetting) {
    status = m_Function.SelectAlternate(record->InterfaceNumber, static_cast<UCHAR>(*outAlt));
    if (!NT_SUCCESS(status)) return status;
    record->CurrentAltSetting = *outAlt;
  }
  status = LinkPipes();
  if (!NT_SUCCESS(status)) return status;
  const USBAudioAltSetting& setting = record->AltSettings[*outAlt];
  if (!m_Model.IsUAC2() && hasFormat && HasSamplingFrequencyControl(setting)) {
    status = SetEndpointSampleRate(setting.DataEndpoint->bEndpointAddress, rate);
  }
  return status;
}

NTSTATUS CUSBAudioControl::SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels,
                                                 ULONG bits, ULONG rate, ULONG periodMs,
                                                 PULONG outChannels, PULONG outContainerBits,
                                                 PULONG outMaxBytesPerPeriod) {
  PAGED_CODE();
  USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG alt = 0;
  NTSTATUS status = ApplyFormat(record, direction, formatTag, channels, bits, rate, TRUE,
                                outChannels, outContainerBits, &alt);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceFormatSelectFailed, direction, 0, status);
    return status;
  }
  const BOOLEAN hasFormat = alt != 0;
  const USB_ENDPOINT_DESCRIPTOR* data = record->AltSettings[alt].DataEndpoint;
  const ULONG interval = hasFormat ? ServiceIntervalOf(data) : 1;
  const PacketValues values = hasFormat ? ComputePacketValues(*outChannels, *outContainerBits, rate,
                                                              interval, m_Function.IsHighSpeed())
                                        : PacketValues{};
  StorePacketValues(record, values);
  record->SampleRate = hasFormat ? rate : 0;
  if (direction == Value(Direction::Playback)) m_Transfers.RestartPlaybackPacing(interval);
  *outMaxBytesPerPeriod =
      periodMs * PacketCapacity(hasFormat ? data : nullptr, m_Function.IsHighSpeed(), interval);
  return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioControl::SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels,
                                                 ULONG bits, ULONG rate, ULONG periodMs,
                                                 PULONG outChannels, PULONG outContainerBits,
                                                 PULONG outNominalBytesPerPeriod,
                                                 PLONG outNegativeSlack, PLONG outPositiveSlack,
                                                 PULONG outMaxBytesPerPeriod) {
  PAGED_CODE();
  USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  if (record == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG alt = 0;
  NTSTATUS status = ApplyFormat(record, direction, formatTag, channels, bits, rate, FALSE,
                                outChannels, outContainerBits, &alt);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceFormatSelectFailed, direction, 1, status);
    return status;
  }
  const BOOLEAN hasFormat = alt != 0;
  const USB_ENDPOINT_DESCRIPTOR* data = hasFormat ? record->AltSettings[alt].DataEndpoint : nullptr;
  const ULONG interval = hasFormat ? ServiceIntervalOf(data) : 1;
  PacketValues v = hasFormat ? ComputePacketValues(*outChannels, *outContainerBits, rate, interval,
                                                   m_Function.IsHighSpeed())
                             : PacketValues{};
  if (hasFormat && m_Model.WidePacketWindow()) {
    // These devices let packets stray by a frame more either way than the class allows.
    const ULONG wide = v.frameBytes * (v.nominal / (v.frameBytes != 0 ? v.frameBytes : 1) + 2);
    if (v.frameBytes < v.minimum) v.minimum -= v.frameBytes;
    if (data->wMaxPacketSize >= wide) v.maximum = wide;
  }
  StorePacketValues(record, v);

  const ULONG scale = periodMs * PacketsPerMillisecond(m_Function.IsHighSpeed(), interval);
  const ULONG nominal = v.nominal * scale;
  const ULONG minimum = v.minimum * scale;
  const ULONG maximum = v.maximum * scale;
  if (outNominalBytesPerPeriod != nullptr) *outNominalBytesPerPeriod = nominal;
  if (outMaxBytesPerPeriod != nullptr) {
    *outMaxBytesPerPeriod = periodMs * PacketCapacity(data, m_Function.IsHighSpeed(), interval);
  }
  const BOOLEAN slackAsked = outNegativeSlack != nullptr || outPositiveSlack != nullptr;
  if (slackAsked && v.frameBytes == 0) return STATUS_INVALID_PARAMETER;
  if (outNegativeSlack != nullptr) {
    *outNegativeSlack = -static_cast<LONG>((nominal - minimum) / v.frameBytes);
  }
  if (outPositiveSlack != nullptr) {
    *outPositiveSlack = static_cast<LONG>((maximum - nominal) / v.frameBytes);
  }
  return STATUS_SUCCESS;
}

ULONG CUSBAudioControl::GetCurrentAltSetting(ULONG direction) const {
  const USBAudioStreamInterface* record = m_Model.StreamInterface(direction);
  return record != nullptr ? record->CurrentAltSetting : 0;
}
