// The ASIO sample type the driver offers, chosen from the I/O format the host set and the
// sample words the devices carry, and the stream format tag the kernel driver is told for it.
#pragma once

#include "asio_interface.h"

// No sample type fits.
inline constexpr ASIOSampleType kUnsupportedSampleType = -1;

// DSD mode: 32-bit device words carry one-bit DSD, most significant bit first. PCM: 16 and 24
// bits as integers, 32 bits as float when every device takes float, else as integers.
ASIOSampleType ChooseSampleType(ASIOIoFormatType format, ULONG deviceBits, bool allFloat);

bool IsDsdSampleType(ASIOSampleType type);

// The stream format tag: 3 (float) for the 32- and 64-bit float types, 0 for the 64-bit ones
// the kernel driver refuses, 1 (integer PCM) for the rest.
USHORT FormatTagOf(ASIOSampleType type);
