// The records of the C device interface and their C++ counterparts, converted in one place for
// both sides of it: the host's LibraryDevice and a library's exported table.
#pragma once

#include "sim/devices/device_abi.h"
#include "sim/devices/usb_device.h"

namespace sim::devices {

inline uint8_t ToAbi(UsbSpeed speed) {
  return speed == UsbSpeed::High ? TARNLINK_SPEED_HIGH : TARNLINK_SPEED_FULL;
}

inline UsbSpeed SpeedFromAbi(uint8_t speed) {
  return speed == TARNLINK_SPEED_HIGH ? UsbSpeed::High : UsbSpeed::Full;
}

inline TarnlinkBusTime ToAbi(const BusTime& time) { return {time.tick, ToAbi(time.speed)}; }

inline BusTime FromAbi(const TarnlinkBusTime& time) {
  BusTime t;
  t.tick = time.tick;
  t.speed = SpeedFromAbi(time.speed);
  return t;
}

inline TarnlinkSetupPacket ToAbi(const USB_DEFAULT_PIPE_SETUP_PACKET& setup) {
  return {setup.bmRequestType.B, setup.bRequest, setup.wValue.W, setup.wIndex.W, setup.wLength};
}

inline USB_DEFAULT_PIPE_SETUP_PACKET FromAbi(const TarnlinkSetupPacket& setup) {
  USB_DEFAULT_PIPE_SETUP_PACKET s = {};
  s.bmRequestType.B = setup.bmRequestType;
  s.bRequest = setup.bRequest;
  s.wValue.W = setup.wValue;
  s.wIndex.W = setup.wIndex;
  s.wLength = setup.wLength;
  return s;
}

inline uint8_t ToAbi(IsoStatus status) {
  switch (status) {
    case IsoStatus::Ok:
      return TARNLINK_ISO_OK;
    case IsoStatus::Babble:
      return TARNLINK_ISO_BABBLE;
    case IsoStatus::NoResponse:
      break;
  }
  return TARNLINK_ISO_NO_RESPONSE;
}

// Values outside the interface's set count as no answer.
inline IsoStatus IsoStatusFromAbi(uint8_t status) {
  switch (status) {
    case TARNLINK_ISO_OK:
      return IsoStatus::Ok;
    case TARNLINK_ISO_BABBLE:
      return IsoStatus::Babble;
    default:
      return IsoStatus::NoResponse;
  }
}

}  // namespace sim::devices
