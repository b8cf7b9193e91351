// The sample rates the ASIO driver accepts: PCM rates up to 1.536 MHz, and DSD bit rates, which
// reach the device as a PCM word rate of rate / 32.
#pragma once

#include "user_mode.h"

inline constexpr ULONG kPcmRates[] = {32000,  44100,  48000,  88200,   96000,   176400,  192000,
                                      352800, 384000, 705600, 768000, 1411200, 1536000};
inline constexpr ULONG kDsdRates[] = {2822400, 5644800, 11289600, 22579200, 45158400,
                                      3072000, 6144000, 12288000, 24576000, 49152000};
inline constexpr ULONG kDsdWordBits = 32;

// The rate as a whole number of hertz; false for a value that is none (fractional, negative,
// not a number, beyond 32 bits).
bool WholeRate(double rate, ULONG* hertz);

// Whether the rate can run: in DSD mode one of the DSD rates, divided by 32; then, in either
// mode, one of the PCM rates within lowest..highest. On success deviceRate is what the device
// runs at.
bool AcceptRate(ULONG rate, bool dsdMode, ULONG lowest, ULONG highest, ULONG* deviceRate);
