// The data ranges of a streaming interface: one KSDATARANGE_AUDIO per usable alternate setting.
#include "driver_pool.h"
#include "filter_constants.h"
#include "filter_descriptor.h"
#include "format_checks.h"
#include "usb_audio_class.h"
#include "wavert_trace_points.h"

namespace {

// The pointer array and the records of a list share one allocation.
constexpr ULONG kBytesPerSetting = sizeof(PKSDATARANGE) + sizeof(KSDATARANGE_AUDIO);

GUID SubFormatOfUac2(ULONG bmFormats) {
  if (bmFormats & (uac::format2::kPcm | uac::format2::kPcm8)) return KSDATAFORMAT_SUBTYPE_PCM;
  if (bmFormats & uac::format2::kIeeeFloat) return KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  if (bmFormats & uac::format2::kALaw) return KSDATAFORMAT_SUBTYPE_ALAW;
  if (bmFormats & uac::format2::kMuLaw) return KSDATAFORMAT_SUBTYPE_MULAW;
  return KSDATAFORMAT_SUBTYPE_WILDCARD;
}

GUID SubFormatOfUac1(USHORT wFormatTag) {
  switch (wFormatTag) {
    case uac::format1::kPcm:
    case uac::format1::kPcm8:
      return KSDATAFORMAT_SUBTYPE_PCM;
    case uac::format1::kIeeeFloat:
      return KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    case uac::format1::kALaw:
      return KSDATAFORMAT_SUBTYPE_ALAW;
    case uac::format1::kMuLaw:
      return KSDATAFORMAT_SUBTYPE_MULAW;
    default:
      return KSDATAFORMAT_SUBTYPE_WILDCARD;
  }
}

// The listed rates of a 1.0 setting (only the fixed rate, when one is set), or its continuous
// bounds; none left gives 0xFFFFFFFF..0.
VOID Uac1Rates(const FormatTypeI1* rates, ULONG fixedRate, PULONG lowest, PULONG highest) {
  if (rates->bSamFreqType == 0) {
    *lowest = FormatTypeI1Rate(rates, 0);
    *highest = FormatTypeI1Rate(rates, 1);
    return;
  }
  *lowest = 0xFFFFFFFF;
  *highest = 0;
  for (ULONG k = 0; k < rates->bSamFreqType; ++k) {
    const ULONG rate = FormatTypeI1Rate(rates, k);
    if (fixedRate != 0 && rate != fixedRate) continue;
    if (rate < *lowest) *lowest = rate;
    if (rate > *highest) *highest = rate;
  }
}

// Describes one alternate setting; FALSE when it has no type I format to describe.
BOOLEAN DescribeSetting(CUSBAudioCL* model, USBAudioStreamInterface* stream,
                        const USBAudioAltSetting& setting, ULONG fixedRate,
                        KSDATARANGE_AUDIO* range, BOOLEAN* eightBitPcm) {
  const BOOLEAN uac2 = model->IsUAC2();
  AltFormat format;
  if (!ReadAltFormat(setting, uac2, &format)) return FALSE;
  range->DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
  range->DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  range->DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  range->DataRange.SubFormat = uac2 ? SubFormatOfUac2(format.bmFormats)
                                    : SubFormatOfUac1(format.wFormatTag);
  if (range->DataRange.SubFormat == KSDATAFORMAT_SUBTYPE_WILDCARD) {
    // Listed all the same; no stream can be opened with it, as the stream accepts only the
    // four formats it knows.
    TRACE_POINT(kTraceRangeWildcardSubFormat, setting.InterfaceDescriptor != nullptr
                                                  ? setting.InterfaceDescriptor->bAlternateSetting
                                                  : 0u);
  }
  range->MaximumChannels = format.channels;
  if (range->DataRange.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
    // The audio engine is offered float devices as 24-bit PCM; the converters widen it.
    range->DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    range->MinimumBitsPerSample = range->MaximumBitsPerSample = 24;
  } else {
    range->MinimumBitsPerSample = range->MaximumBitsPerSample = format.bitResolution;
  }
  *eightBitPcm = !uac2 && range->DataRange.SubFormat == KSDATAFORMAT_SUBTYPE_PCM &&
                 format.containerBits == 8;
  ULONG lowest = 0;
  ULONG highest = 0;
  if (uac2) {
    if (CUSBAudioClock* clock = model->TerminalClock(stream))
      clock->GetSampleRateRange(&lowest, &highest, 0, 0xFFFFFFFF);
  } else {
    Uac1Rates(format.uac1Rates, fixedRate, &lowest, &highest);
  }
  range->MinimumSampleFrequency = lowest;
  range->MaximumSampleFrequency = highest;
  return TRUE;
}

BOOLEAN SameRecord(const KSDATARANGE_AUDIO& a, const KSDATARANGE_AUDIO& b) {
  return RtlCompareMemory(&a, &b, sizeof(a)) == sizeof(a);
}

// Most channels first, then most bits: each position takes the widest of what follows.
VOID SortWidestFirst(KSDATARANGE_AUDIO* records, ULONG count) {
  for (ULONG k = 0; k < count; ++k) {
    for (ULONG l = k + 1; l < count; ++l) {
      const BOOLEAN wider = records[l].MaximumChannels > records[k].MaximumChannels ||
                            (records[l].MaximumChannels == records[k].MaximumChannels &&
                             records[l].MaximumBitsPerSample > records[k].MaximumBitsPerSample);
      if (!wider) continue;
      const KSDATARANGE_AUDIO swap = records[k];
      records[k] = records[l];
      records[l] = swap;
    }
  }
}

}  // namespace

NTSTATUS BuildDataRanges(CUSBAudioCL* model, USBAudioStreamInterface* stream,
                         DataRangeList* list) {
  if (model == nullptr || stream == nullptr || list == nullptr) return STATUS_INVALID_PARAMETER;
  list->Count = 0;
  list->Ranges = nullptr;
  const ULONG settings = stream->AltSettingCount;
  if (settings == 0) return STATUS_SUCCESS;
  auto* ranges = static_cast<PKSDATARANGE*>(AllocateDriverPool(settings * kBytesPerSetting));
  if (ranges == nullptr) {
    TRACE_POINT(kTraceRangeListFailed, settings);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  auto* records = reinterpret_cast<KSDATARANGE_AUDIO*>(ranges + settings);
  const ULONG fixedRate = model->FixedSampleRate();
  const BOOLEAN uac2 = model->IsUAC2();
  ULONG count = 0;
  for (ULONG alt = 1; alt < settings; ++alt) {
    KSDATARANGE_AUDIO range = {};
    BOOLEAN eightBitPcm = FALSE;
    if (!DescribeSetting(model, stream, stream->AltSettings[alt], fixedRate, &range,
                         &eightBitPcm)) {
      TRACE_POINT(kTraceRangeSkippedFormatType, alt);
      continue;
    }
    if (fixedRate != 0) {
      if (fixedRate < range.MinimumSampleFrequency || fixedRate > range.MaximumSampleFrequency) {
        TRACE_POINT(kTraceRangeSkippedFixedRate, alt, fixedRate);
        continue;
      }
      BOOLEAN listed = FALSE;
      for (ULONG k = 0; k < count && !listed; ++k) listed = SameRecord(records[k], range);
      if (listed) {
        TRACE_POINT(kTraceRangeSkippedDuplicate, alt);
        continue;
      }
      range.MinimumSampleFrequency = range.MaximumSampleFrequency = fixedRate;
    }
    if (!uac2 && eightBitPcm) {
      TRACE_POINT(kTraceRangeSkipped8Bit, alt);
      continue;
    }
    records[count++] = range;
  }
  SortWidestFirst(records, count);
  for (ULONG k = 0; k < count; ++k) ranges[k] = &records[k].DataRange;
  // From Windows 8.1 on the audio engine reads the processing modes a pin offers from an
  // attribute list behind its last range; the list has a free slot for it (setting 0 never
  // yields a range).
  if (count != 0 && RtlIsNtDdiVersionAvailable(NTDDI_WINBLUE)) {
    records[count - 1].DataRange.Flags = KSDATARANGE_ATTRIBUTES;
    ranges[count++] = reinterpret_cast<PKSDATARANGE>(&g_SignalProcessingAttributes);
  }
  list->Count = count;
  list->Ranges = ranges;
  return STATUS_SUCCESS;
}

VOID FreeDataRanges(DataRangeList* list) {
  FreeDriverPool(list->Ranges);
  list->Ranges = nullptr;
  list->Count = 0;
}
