// Sample format converters between the operating-system stream's formats and the USB formats.
//
// The stream engine picks one converter pair per stream start with SelectConverter and then calls
// Mix (render: adds into the USB packet buffer, which starts as silence) or Copy (capture: writes
// into the cyclic buffer) for every block of interleaved frames. The converters run at
// DISPATCH_LEVEL for every packet: they allocate nothing, take no lock and never fail.
#pragma once

#include "kernel_mode.h"

// The four sample formats a converter understands; the value is the format's position in the
// converter table.
enum ConverterFormatIndex : ULONG {
  ConverterFormatPcm16 = 0,  // signed 16-bit little-endian
  ConverterFormatPcm24 = 1,  // signed 24-bit little-endian, packed in 3 bytes
  ConverterFormatPcm32 = 2,  // signed 32-bit little-endian
  ConverterFormatFloat = 3,  // IEEE single precision, full scale +-1.0
};
constexpr ULONG ConverterFormatCount = 4;

// Where the arithmetic of a mix or a narrowing copy happens: in left-justified 32-bit integers
// (clipping at full scale) or in single-precision floats (no clipping until a PCM store).
enum ArithmeticDomain : ULONG {
  ArithmeticDomainInteger = 0,
  ArithmeticDomainFloat = 1,
};

// Format tags as they appear in WAVEFORMATEX and in the device model.
constexpr USHORT ConverterTagPcm = 1;
constexpr USHORT ConverterTagIeeeFloat = 3;

// Stream kinds as the device model keeps them.
constexpr USHORT ConverterStreamKindPcm = 0;
constexpr USHORT ConverterStreamKindDsd = 1;

// Every converter: (destination, destination channels, source, source channels, frames).
// Channels both sides have are converted; extra destination channels are left as they are and
// extra source channels are skipped.
typedef VOID (*SampleConvertRoutine)(PVOID destination, ULONG destinationChannels, PCVOID source,
                                     ULONG sourceChannels, ULONG frames);

// One side of a conversion as the engine describes it.
struct ConverterFormat {
  USHORT streamKind;  // ConverterStreamKindPcm or ConverterStreamKindDsd
  USHORT formatTag;   // ConverterTagPcm or ConverterTagIeeeFloat
  ULONG bitsPerSample;
  ULONG channels;
};

// The converter of one stream, owned by the engine's stream object. A zeroed record is "no
// converter": Mix and Copy then do nothing.
struct SampleConverter {
  SampleConvertRoutine mix;
  SampleConvertRoutine copy;
  ULONG dstChannels;
  ULONG srcChannels;
};

// Maps (format tag, bits per sample) to its converter format; STATUS_NOT_SUPPORTED when no
// converter handles it (8-bit, 20-bit, A-law, mu-law, ...).
NTSTATUS GetConverterFormatIndex(USHORT formatTag, ULONG bitsPerSample,
                                 ConverterFormatIndex* index);

// Fills the converter for source -> destination. domainTag is the USB-side format tag: 1 selects
// the integer domain, 3 the float domain. STATUS_INVALID_PARAMETER when the record or a format is
// missing, STATUS_NOT_SUPPORTED for any combination without a converter; on failure the record
// is cleared so that a stale converter is never applied to buffers of another format.
NTSTATUS SelectConverter(SampleConverter* converter, USHORT domainTag,
                         const ConverterFormat* source, const ConverterFormat* destination);

// Adds frames of converted source samples into the destination.
VOID Mix(const SampleConverter* converter, PVOID destination, PCVOID source, ULONG frames);

// Overwrites the destination's shared channels with frames of converted source samples.
VOID Copy(const SampleConverter* converter, PVOID destination, PCVOID source, ULONG frames);
