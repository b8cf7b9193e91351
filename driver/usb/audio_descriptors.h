// The class-specific descriptors of USB Audio 1.0 and 2.0 functions as this driver reads them,
// with the smallest length each must have before any of its fields is looked at.
//
// The bytes come from the device. A descriptor is only ever viewed as one of these once the
// descriptor rules (audio_descriptor_rules.h) found its bLength covering the fields (and, for
// the variable parts, the arrays) read from it; a refused descriptor is treated as absent.
#pragma once

#include "byte_order.h"
#include "kernel_mode.h"
#include "usb/usb.h"

#pragma pack(push, 1)

struct AudioEntityDescriptor {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bEntityID;  // bTerminalID, bUnitID or bClockID
};

struct AudioControlHeader1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  USHORT bcdADC;
  USHORT wTotalLength;
  UCHAR bInCollection;
};

struct AudioControlHeader2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  USHORT bcdADC;
  UCHAR bCategory;
  USHORT wTotalLength;
  UCHAR bmControls;
};

struct InputTerminal1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalID;
  USHORT wTerminalType;
  UCHAR bAssocTerminal;
  UCHAR bNrChannels;
  USHORT wChannelConfig;
  UCHAR iChannelNames;
  UCHAR iTerminal;
};

struct InputTerminal2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalID;
  USHORT wTerminalType;
  UCHAR bAssocTerminal;
  UCHAR bCSourceID;
  UCHAR bNrChannels;
  ULONG bmChannelConfig;
  UCHAR iChannelNames;
  USHORT bmControls;
  UCHAR iTerminal;
};

struct OutputTerminal1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalID;
  USHORT wTerminalType;
  UCHAR bAssocTerminal;
  UCHAR bSourceID;
  UCHAR iTerminal;
};

struct OutputTerminal2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalID;
  USHORT wTerminalType;
  UCHAR bAssocTerminal;
  UCHAR bSourceID;
  UCHAR bCSourceID;
  USHORT bmControls;
  UCHAR iTerminal;
};

// Feature units: the fixed part before bmaControls (1.0 adds bControlSize) and one channel's
// controls at least, plus iFeature after them.
struct FeatureUnitHead {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bUnitID;
  UCHAR bSourceID;
  UCHAR bControlSize;  // 1.0 only; under 2.0 this is the first bmaControls byte
};

struct ClockSource2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bClockID;
  UCHAR bmAttributes;
  UCHAR bmControls;
  UCHAR bAssocTerminal;
  UCHAR iClockSource;
};

// Followed by baCSourceID[bNrInPins], bmControls and iClockSelector.
struct ClockSelector2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bClockID;
  UCHAR bNrInPins;
};

struct StreamGeneral1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalLink;
  UCHAR bDelay;
  USHORT wFormatTag;
};

struct StreamGeneral2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bTerminalLink;
  UCHAR bmControls;
  UCHAR bFormatType;
  ULONG bmFormats;
  UCHAR bNrChannels;
  ULONG bmChannelConfig;
  UCHAR iChannelNames;
};

// Followed by the rate description: tLowerSamFreq and tUpperSamFreq when bSamFreqType is 0,
// else bSamFreqType rates; every rate is 3 bytes little-endian.
struct FormatTypeI1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bFormatType;
  UCHAR bNrChannels;
  UCHAR bSubframeSize;
  UCHAR bBitResolution;
  UCHAR bSamFreqType;
};

struct FormatTypeI2 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bFormatType;
  UCHAR bSubslotSize;
  UCHAR bBitResolution;
};

struct EndpointGeneral {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bDescriptorSubtype;
  UCHAR bmAttributes;
};

// The 9-byte endpoint of Audio 1.0.
struct AudioEndpoint1 {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bEndpointAddress;
  UCHAR bmAttributes;
  USHORT wMaxPacketSize;
  UCHAR bInterval;
  UCHAR bRefresh;
  UCHAR bSynchAddress;
};

#pragma pack(pop)

// The bytes a 1.0 type I format needs for its rate description.
inline ULONG FormatTypeI1Length(UCHAR bSamFreqType) {
  return sizeof(FormatTypeI1) + (bSamFreqType == 0 ? 6u : 3u * bSamFreqType);
}

// Rate k of a 1.0 type I format (0 and 1 are the bounds of a continuous range). The caller
// keeps k below the count the format was checked for.
inline ULONG FormatTypeI1Rate(const FormatTypeI1* format, ULONG k) {
  return ReadLe24(reinterpret_cast<const UCHAR*>(format) + sizeof(FormatTypeI1) + 3 * k);
}
