// The one interface between the simulated bus and anything plugged into it.
//
// The host controller (sim/usb) owns time. It drives a device with these calls only:
//  - Reset(speed) when the port resets; the device returns to the default state (address 0,
//    unconfigured) and learns the speed it runs at (a high-speed-capable device may be attached
//    to a full-speed bus).
//  - StartOfFrame(time) once at the start of every (micro)frame, before any transfer of that
//    (micro)frame. A device's audio clock advances only with these calls.
//  - Control(time, setup, data) for a whole control transfer on endpoint 0. For device-to-host
//    requests `data` has room for wLength bytes and the device writes what it answers; for
//    host-to-device requests `data` holds the wLength bytes the host sent. A request the device
//    does not support answers Stall, as a real device answers with a STALL handshake.
//  - IsoOut(time, endpoint, packet) for one isochronous OUT packet in this (micro)frame.
//  - IsoIn(time, endpoint, buffer) for one isochronous IN token in this (micro)frame; the device
//    writes up to buffer.size() bytes (the endpoint's capacity) or does not answer.
// Every call carries the bus time, so a device needs no kernel and no clock of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "usb/usbspec.h"

namespace sim::devices {

enum class UsbSpeed : uint8_t { Full, High };

// The bus position of the current (micro)frame. `tick` counts 1 ms frames at full speed and
// 125 us microframes at high speed since the bus started.
struct BusTime {
  uint64_t tick = 0;
  UsbSpeed speed = UsbSpeed::High;

  uint32_t TicksPerSecond() const { return speed == UsbSpeed::High ? 8000 : 1000; }
  uint64_t TickNanoseconds() const { return speed == UsbSpeed::High ? 125000ull : 1000000ull; }
  uint64_t Nanoseconds() const { return tick * TickNanoseconds(); }
  // The 11-bit frame number carried by SOF packets (microframes share their frame's number).
  uint16_t FrameNumber() const {
    return static_cast<uint16_t>((speed == UsbSpeed::High ? tick >> 3 : tick) & 0x7FF);
  }
};

enum class ControlStatus : uint8_t { Ack, Stall };

struct ControlResult {
  ControlStatus status = ControlStatus::Stall;
  size_t length = 0;  // data-stage bytes transferred

  static ControlResult Ack(size_t n = 0) { return {ControlStatus::Ack, n}; }
  static ControlResult Stall() { return {ControlStatus::Stall, 0}; }
  bool Stalled() const { return status == ControlStatus::Stall; }
};

enum class IsoStatus : uint8_t {
  Ok,
  NoResponse,  // endpoint not active in the current configuration and alternate setting
  Babble,      // OUT packet larger than the endpoint accepts
};

struct IsoInResult {
  IsoStatus status = IsoStatus::NoResponse;
  size_t length = 0;
};

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // Fastest speed the device can run at.
  virtual UsbSpeed MaximumSpeed() const = 0;
  virtual void Reset(UsbSpeed busSpeed) = 0;
  virtual void StartOfFrame(const BusTime& time) = 0;
  virtual ControlResult Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                std::span<uint8_t> data) = 0;
  virtual IsoStatus IsoOut(const BusTime& time, uint8_t endpoint,
                           std::span<const uint8_t> packet) = 0;
  virtual IsoInResult IsoIn(const BusTime& time, uint8_t endpoint, std::span<uint8_t> buffer) = 0;
};

}  // namespace sim::devices
