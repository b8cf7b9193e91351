// CMiniportWaveRT::DataRangeIntersection: the format the miniport proposes for a client's
// range on one of its streaming pins: the highest rate and the widest sample the client's
// range, the pin's range and the device have in common, as WAVEFORMATEXTENSIBLE.
#include "miniport_wavert.h"
#include "wavert_trace_points.h"

namespace {

ULONG Min(ULONG a, ULONG b) { return a < b ? a : b; }
ULONG Max(ULONG a, ULONG b) { return a > b ? a : b; }

NTSTATUS NoMatch(ULONG reason) {
  TRACE_POINT(kTraceMiniportNoMatch, reason);
  return STATUS_NO_MATCH;
}

}  // namespace

NTSTATUS CMiniportWaveRT::MatchDeviceRange(BOOLEAN capture, ULONG channels, ULONG minBits,
                                           ULONG maxBits, ULONG* minRate, ULONG* maxRate) {
  if (m_FixedRate != 0 && (*minRate != m_FixedRate || *maxRate != m_FixedRate)) return NoMatch(4);
  const DataRangeList& list = capture ? m_Filter.CaptureRanges : m_Filter.RenderRanges;
  for (ULONG k = 0; k < list.Count; ++k) {
    // The attribute list behind the last range is no range.
    if (k > 0 && (list.Ranges[k - 1]->Flags & KSDATARANGE_ATTRIBUTES) != 0) break;
    const auto* range = reinterpret_cast<const KSDATARANGE_AUDIO*>(list.Ranges[k]);
    if (range->MaximumChannels == channels && range->MinimumBitsPerSample <= minBits &&
        range->MaximumBitsPerSample >= maxBits && range->MinimumSampleFrequency <= *minRate &&
        range->MaximumSampleFrequency >= *maxRate) {
      m_Adapter->GetDirectionRateRange(capture ? kDirectionCapture : kDirectionPlayback, minRate,
                                       maxRate);
      return STATUS_SUCCESS;
    }
  }
  return NoMatch(5);
}

STDMETHODIMP CMiniportWaveRT::DataRangeIntersection(ULONG PinId, PKSDATARANGE ClientDataRange,
                                                    PKSDATARANGE MyDataRange,
                                                    ULONG OutputBufferLength,
                                                    PVOID ResultantFormat,
                                                    PULONG ResultantFormatLength) {
  constexpr ULONG kResultSize = sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE);
  if (ClientDataRange->Specifier == KSDATAFORMAT_SPECIFIER_DSOUND) return STATUS_NOT_SUPPORTED;
  if (OutputBufferLength == 0 || ResultantFormat == nullptr) {
    *ResultantFormatLength = kResultSize;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (OutputBufferLength < kResultSize) return STATUS_BUFFER_TOO_SMALL;
  // The client's range is read as an audio range only when it is one; anything shorter (a
  // wildcard range, or a hostile one) cannot match.
  if (ClientDataRange->FormatSize < sizeof(KSDATARANGE_AUDIO) ||
      MyDataRange->FormatSize < sizeof(KSDATARANGE_AUDIO))
    return NoMatch(1);
  const auto* client = reinterpret_cast<const KSDATARANGE_AUDIO*>(ClientDataRange);
  const auto* mine = reinterpret_cast<const KSDATARANGE_AUDIO*>(MyDataRange);
  // The audio engine's mono probes would open a stream the device cannot carry.
  if (client->MaximumChannels < 2) return NoMatch(2);

  auto* result = static_cast<KSDATAFORMAT_WAVEFORMATEXTENSIBLE*>(ResultantFormat);
  RtlCopyMemory(&result->DataFormat, MyDataRange, sizeof(KSDATAFORMAT));
  result->DataFormat.FormatSize = kResultSize;
  WAVEFORMATEXTENSIBLE& wave = result->WaveFormatExt;
  wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;

  const ULONG channels = Min(client->MaximumChannels, mine->MaximumChannels);
  ULONG maxRate = Min(client->MaximumSampleFrequency, mine->MaximumSampleFrequency);
  ULONG minRate = Max(client->MinimumSampleFrequency, mine->MinimumSampleFrequency);
  const ULONG maxBits = Min(client->MaximumBitsPerSample, mine->MaximumBitsPerSample);
  const ULONG minBits = Max(client->MinimumBitsPerSample, mine->MinimumBitsPerSample);

  const PinElement* pin = FilterPin(m_Filter.Filter, PinId);
  if (pin == nullptr) return STATUS_INVALID_PARAMETER;
  BOOLEAN capture = FALSE;
  switch (pin->Descriptor.KsPinDescriptor.DataFlow) {
    case KSPIN_DATAFLOW_IN:
      capture = FALSE;
      break;
    case KSPIN_DATAFLOW_OUT:
      capture = TRUE;
      break;
    default:
      return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status = MatchDeviceRange(capture, channels, minBits, maxBits, &minRate, &maxRate);
  if (!NT_SUCCESS(status)) return status;
  if (maxRate < minRate) return NoMatch(6);
  if (maxBits < minBits) return NoMatch(7);
  // A width or channel count the 16-bit fields cannot carry describes no format either.
  if (channels > 0xFFFF || maxBits > 0xFFFF || maxBits * channels / 8 > 0xFFFF) return NoMatch(8);

  wave.Format.nChannels = static_cast<USHORT>(channels);
  wave.Format.nSamplesPerSec = maxRate;
  wave.Format.wBitsPerSample = static_cast<USHORT>(maxBits);
  wave.Samples.wValidBitsPerSample = static_cast<USHORT>(maxBits);
  wave.Format.nBlockAlign = static_cast<USHORT>(maxBits * channels / 8);
  wave.Format.nAvgBytesPerSec = wave.Format.nBlockAlign * maxRate;
  wave.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  wave.dwChannelMask = channels == 2 ? KSAUDIO_SPEAKER_STEREO : 0;
  wave.SubFormat = mine->DataRange.SubFormat;
  result->DataFormat.SampleSize = wave.Format.nBlockAlign;
  *ResultantFormatLength = kResultSize;
  return STATUS_SUCCESS;
}
