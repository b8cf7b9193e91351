#include "converter_table.h"
#include "sample_converter.h"

namespace {

// Native DSD moves 32-bit words of one-bit samples that no arithmetic may touch; mixing them
// would destroy the bit stream, so both operations overwrite.
constexpr ULONG kDsdWordCopyPair = convert::ConverterPairIndex(
    ConverterFormatPcm32, ConverterFormatPcm32, ArithmeticDomainInteger);

bool IsDsdWordFormat(const ConverterFormat& format) {
  return format.formatTag == ConverterTagPcm && format.bitsPerSample == 32;
}

NTSTATUS SelectPair(USHORT domainTag, const ConverterFormat& source,
                    const ConverterFormat& destination, convert::ConverterPair* pair) {
  if (source.streamKind != destination.streamKind) return STATUS_NOT_SUPPORTED;

  if (source.streamKind == ConverterStreamKindDsd) {
    if (domainTag != ConverterTagPcm || !IsDsdWordFormat(source) || !IsDsdWordFormat(destination))
      return STATUS_NOT_SUPPORTED;
    const SampleConvertRoutine words = convert::kConverterTable[kDsdWordCopyPair].copy;
    *pair = {words, words};
    return STATUS_SUCCESS;
  }
  if (source.streamKind != ConverterStreamKindPcm) return STATUS_NOT_SUPPORTED;

  ArithmeticDomain domain;
  if (domainTag == ConverterTagPcm) {
    domain = ArithmeticDomainInteger;
  } else if (domainTag == ConverterTagIeeeFloat) {
    domain = ArithmeticDomainFloat;
  } else {
    return STATUS_NOT_SUPPORTED;
  }
  ConverterFormatIndex from;
  ConverterFormatIndex to;
  NTSTATUS status = GetConverterFormatIndex(source.formatTag, source.bitsPerSample, &from);
  if (NT_SUCCESS(status))
    status = GetConverterFormatIndex(destination.formatTag, destination.bitsPerSample, &to);
  if (!NT_SUCCESS(status)) return status;
  *pair = convert::kConverterTable[convert::ConverterPairIndex(from, to, domain)];
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS GetConverterFormatIndex(USHORT formatTag, ULONG bitsPerSample,
                                 ConverterFormatIndex* index) {
  if (index == nullptr) return STATUS_INVALID_PARAMETER;
  if (formatTag == ConverterTagPcm && bitsPerSample == 16) {
    *index = ConverterFormatPcm16;
  } else if (formatTag == ConverterTagPcm && bitsPerSample == 24) {
    *index = ConverterFormatPcm24;
  } else if (formatTag == ConverterTagPcm && bitsPerSample == 32) {
    *index = ConverterFormatPcm32;
  } else if (formatTag == ConverterTagIeeeFloat && bitsPerSample == 32) {
    *index = ConverterFormatFloat;
  } else {
    return STATUS_NOT_SUPPORTED;
  }
  return STATUS_SUCCESS;
}

NTSTATUS SelectConverter(SampleConverter* converter, USHORT domainTag,
                         const ConverterFormat* source, const ConverterFormat* destination) {
  if (converter == nullptr) return STATUS_INVALID_PARAMETER;
  *converter = {};
  if (source == nullptr || destination == nullptr) return STATUS_INVALID_PARAMETER;

  convert::ConverterPair pair;
  const NTSTATUS status = SelectPair(domainTag, *source, *destination, &pair);
  if (!NT_SUCCESS(status)) return status;
  *converter = {pair.mix, pair.copy, destination->channels, source->channels};
  return STATUS_SUCCESS;
}

VOID Mix(const SampleConverter* converter, PVOID destination, PCVOID source, ULONG frames) {
  if (converter == nullptr || converter->mix == nullptr) return;
  converter->mix(destination, converter->dstChannels, source, converter->srcChannels, frames);
}

VOID Copy(const SampleConverter* converter, PVOID destination, PCVOID source, ULONG frames) {
  if (converter == nullptr || converter->copy == nullptr) return;
  converter->copy(destination, converter->dstChannels, source, converter->srcChannels, frames);
}
