// The sample rates the control panel offers in its combo box, with their names: PCM rates up to
// 768 kHz and the DSD bit rates up to 22.5792 MHz.
#pragma once

#include "user_mode.h"

struct RateName {
  ULONG rate;
  LPCWSTR name;
};

inline constexpr RateName kPcmRateNames[] = {
    {32000, WSTR("32000 Hz")},   {44100, WSTR("44100 Hz")},   {48000, WSTR("48000 Hz")},
    {88200, WSTR("88200 Hz")},   {96000, WSTR("96000 Hz")},   {176400, WSTR("176400 Hz")},
    {192000, WSTR("192000 Hz")}, {352800, WSTR("352800 Hz")}, {384000, WSTR("384000 Hz")},
    {705600, WSTR("705600 Hz")}, {768000, WSTR("768000 Hz")}};

inline constexpr RateName kDsdRateNames[] = {
    {2822400, WSTR("2.8224MHz")},   {3072000, WSTR("3.0720MHz")},  {5644800, WSTR("5.6448MHz")},
    {6144000, WSTR("6.1440MHz")},   {11289600, WSTR("11.2896MHz")}, {12288000, WSTR("12.2880MHz")},
    {22579200, WSTR("22.5792MHz")}};

// Whether rate is one of the DSD rates the panel names.
bool IsNamedDsdRate(ULONG rate);

// The buffer size the panel shows for an index at a rate: frames at the device rate (the DSD
// bit rate / 32), in bits for DSD, the same value the ASIO driver reports to its host.
ULONG DisplayedBufferSize(ULONG index, ULONG rate);
