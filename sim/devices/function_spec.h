// A readable description of a USB Audio Class function: what the descriptor builder turns into
// descriptor bytes, what the dump parser recovers from them, and what the device model runs.
// Fields named like descriptor fields carry those fields' values; the few that descriptors
// cannot say (supported clock rates, volume ranges) are marked as behaviour.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sim/devices/usb_device.h"
#include "usb/usbspec.h"

namespace sim::devices {

enum class UacVersion : uint8_t { Uac1, Uac2 };

struct EndpointSpec {
  uint8_t bEndpointAddress = 0;
  uint8_t bmAttributes = USB_ENDPOINT_TYPE_ISOCHRONOUS;
  uint16_t wMaxPacketSize = 0;
  uint8_t bInterval = 1;
  uint8_t bRefresh = 0;       // Audio 1.0 only (9-byte endpoint)
  uint8_t bSynchAddress = 0;  // Audio 1.0 only

  uint8_t SyncType() const {
    return bmAttributes & USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_MASK;
  }
  uint8_t Usage() const { return bmAttributes & USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_MASK; }
  bool In() const { return (bEndpointAddress & USB_ENDPOINT_DIRECTION_MASK) != 0; }
  // Bytes one (micro)frame can carry: high-bandwidth endpoints add transactions.
  size_t Capacity() const {
    return (wMaxPacketSize & USB_ENDPOINT_MAX_PACKET_SIZE_MASK) *
           (USB_ENDPOINT_ADDITIONAL_TRANSACTIONS(wMaxPacketSize) + 1u);
  }
};

struct AltSettingSpec {
  uint8_t bAlternateSetting = 0;  // 0: its position in the list + 1
  uint8_t bFormatType = 1;        // only type I formats carry PCM frames the models understand
  uint8_t bNrChannels = 2;
  uint8_t bSubslotSize = 2;  // bSubframeSize under Audio 1.0
  uint8_t bBitResolution = 16;
  uint32_t bmFormats = 1;        // Audio 2.0; Audio 1.0 uses wFormatTag
  uint16_t wFormatTag = 1;       // Audio 1.0
  uint32_t bmChannelConfig = 3;  // Audio 2.0 general descriptor
  // Audio 1.0 rates: a discrete list, or a continuous range when the list is empty.
  std::vector<uint32_t> tSamFreq;
  uint32_t tLowerSamFreq = 0;
  uint32_t tUpperSamFreq = 0;
  uint8_t endpointAttributes = 0;  // class-specific endpoint bmAttributes (1.0 bit 0: rate control)
  EndpointSpec data;
  std::optional<EndpointSpec> feedback;

  uint32_t FrameBytes() const { return uint32_t{bNrChannels} * bSubslotSize; }
};

struct StreamingInterfaceSpec {
  uint8_t bInterfaceNumber = 1;
  uint8_t bTerminalLink = 0;
  uint8_t bDelay = 1;                // Audio 1.0
  std::vector<AltSettingSpec> alts;  // alternate settings 1..n; setting 0 has no endpoints
};

struct ClockSourceSpec {
  uint8_t bClockID = 0;
  uint8_t bmAttributes = 0x03;  // internal programmable
  uint8_t bmControls = 0x07;    // frequency programmable, validity readable
  uint8_t bAssocTerminal = 0;
  std::vector<uint32_t> rates;  // behaviour: the discrete rates RANGE reports
};

struct ClockSelectorSpec {
  uint8_t bClockID = 0;
  std::vector<uint8_t> baCSourceID;
  uint8_t bmControls = 0x03;
};

struct InputTerminalSpec {
  uint8_t bTerminalID = 0;
  uint16_t wTerminalType = 0x0101;
  uint8_t bAssocTerminal = 0;
  uint8_t bCSourceID = 0;  // Audio 2.0
  uint8_t bNrChannels = 2;
  uint32_t bmChannelConfig = 3;
  uint16_t bmControls = 0;  // Audio 2.0
};

struct OutputTerminalSpec {
  uint8_t bTerminalID = 0;
  uint16_t wTerminalType = 0x0301;
  uint8_t bAssocTerminal = 0;
  uint8_t bSourceID = 0;
  uint8_t bCSourceID = 0;   // Audio 2.0
  uint16_t bmControls = 0;  // Audio 2.0
};

struct FeatureUnitSpec {
  uint8_t bUnitID = 0;
  uint8_t bSourceID = 0;
  uint8_t bControlSize = 1;           // Audio 1.0
  std::vector<uint32_t> bmaControls;  // master channel first
  // Behaviour: volume range in 1/256 dB.
  int16_t volumeMin = -100 * 256;
  int16_t volumeMax = 0;
  uint16_t volumeRes = 128;
};

// Any other audio control descriptor (mixer, processing, multiplier...), kept verbatim.
struct RawEntitySpec {
  std::vector<uint8_t> bytes;
};

using EntitySpec = std::variant<InputTerminalSpec, OutputTerminalSpec, FeatureUnitSpec,
                                ClockSourceSpec, ClockSelectorSpec, RawEntitySpec>;

struct AudioFunctionSpec {
  UacVersion version = UacVersion::Uac2;
  UsbSpeed speed = UsbSpeed::High;
  uint16_t bcdUSB = 0x0200;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint16_t bcdDevice = 0x0100;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  uint8_t audioClass = USB_DEVICE_CLASS_AUDIO;  // some devices hide audio behind 0xFF
  uint8_t controlInterface = 0;
  bool interfaceAssociation = true;  // Audio 2.0 functions open with an association descriptor
  uint8_t bCategory = 0x0A;          // Audio 2.0 header category: 0x0A pro audio
  // Sloppy firmware: the audio control header's wTotalLength claims this many bytes more than
  // its entities take, running into the interfaces after it.
  uint16_t acTotalLengthExcess = 0;
  uint8_t bmAttributes = USB_CONFIG_BUS_POWERED;
  uint8_t MaxPower = 50;  // units of 2 mA
  std::vector<EntitySpec> entities;
  std::vector<StreamingInterfaceSpec> streams;
  // Interfaces outside the audio function (HID, DFU, vendor), appended verbatim.
  std::vector<uint8_t> extraInterfaces;
  uint8_t extraInterfaceCount = 0;
};

}  // namespace sim::devices
