// Devices that need something their descriptors do not say, keyed by idVendor and idProduct.
#pragma once

#include "kernel_mode.h"
#include "usb_audio_class.h"

// A device without a row gets these defaults.
struct UsbAudioQuirks {
  // The interface class the audio interfaces carry.
  UCHAR audioClass = uac::kInterfaceClassAudio;
  // Select the configuration with every interface, not only the audio ones.
  BOOLEAN configureAllInterfaces = FALSE;
  // Each playback packet starts with its 4-byte length.
  BOOLEAN playbackLengthHeader = FALSE;
  // Packet sizes may stray further from nominal.
  BOOLEAN widePacketWindow = FALSE;
};

UsbAudioQuirks LookupAudioQuirks(USHORT idVendor, USHORT idProduct);
