// Finding the devices the kernel driver serves: its wave filters among the audio interfaces,
// each asked for its rates, native DSD, product string and bus speed over the private channel.
#pragma once

#include "device_list_entry.h"

// The audio device-interface class the kernel driver registers its wave filter in.
inline constexpr GUID kAudioInterfaceClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr LPCWSTR kKernelServiceName = WSTR("Velmor_USBDAC_AUDIO");
// The wave filter's reference string, possibly followed by the fixed rate.
inline constexpr LPCWSTR kWaveReference = WSTR("\\{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}");
inline constexpr LPCWSTR kPrivateSuffix = WSTR("\\asio");

// Rebuilds list: the devices present now, sorted by product string. A device that does not
// answer every query is left out.
void DiscoverDevices(DeviceList* list);
