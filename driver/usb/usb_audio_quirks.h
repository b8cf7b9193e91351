// Devices that need something their descriptors do not say, keyed by idVendor and idProduct.
#pragma once

#include "kernel_mode.h"

struct UsbAudioQuirks {
  UCHAR audioClass;                // interface class the audio interfaces carry
  BOOLEAN configureAllInterfaces;  // select the configuration with every interface, not only audio
  BOOLEAN playbackLengthHeader;    // each playback packet starts with its 4-byte length
  BOOLEAN widePacketWindow;        // packet sizes may stray further from nominal
};

UsbAudioQuirks LookupAudioQuirks(USHORT idVendor, USHORT idProduct);
