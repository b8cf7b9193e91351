/* The C interface of a USB device that lives in a shared library of its own, so that a device
 * maker can attach their firmware's behaviour, not only its descriptors, to the simulated bus.
 * It carries the calls of sim::devices::UsbDevice (usb_device.h) as plain functions and records:
 * reset with the bus speed, start of (micro)frame, whole control transfers and isochronous OUT and
 * IN packets, each with the bus time.
 *
 * A library exports one function, tarnlink_device_functions, that returns its table. The host
 * checks abi_version and size before it calls anything else; a table of a newer minor revision
 * may be larger (fields are only ever added at the end). The host calls one device from one
 * thread at a time; a library keeps no state outside its device objects if it wants several.
 * Nothing may unwind through these functions: a C++ library catches its exceptions.
 */
#ifndef TARNLINK_SIM_DEVICES_DEVICE_ABI_H_
#define TARNLINK_SIM_DEVICES_DEVICE_ABI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TARNLINK_DEVICE_ABI_VERSION 1u
#define TARNLINK_DEVICE_ENTRY "tarnlink_device_functions"

enum {
  TARNLINK_SPEED_FULL = 0, /* 1 ms frames */
  TARNLINK_SPEED_HIGH = 1  /* 125 us microframes */
};

enum {
  TARNLINK_CONTROL_ACK = 0,
  TARNLINK_CONTROL_STALL = 1 /* the request is not supported: a STALL handshake */
};

enum {
  TARNLINK_ISO_OK = 0,
  TARNLINK_ISO_NO_RESPONSE = 1, /* endpoint not active in the current setting */
  TARNLINK_ISO_BABBLE = 2       /* OUT packet larger than the endpoint accepts */
};

/* The bus position of the current (micro)frame: `tick` counts 1 ms frames at full speed and
 * 125 us microframes at high speed since the bus started. */
typedef struct TarnlinkBusTime {
  uint64_t tick;
  uint8_t speed; /* TARNLINK_SPEED_* */
} TarnlinkBusTime;

/* The 8-byte setup stage of a control transfer, fields in host byte order. */
typedef struct TarnlinkSetupPacket {
  uint8_t bmRequestType;
  uint8_t bRequest;
  uint16_t wValue;
  uint16_t wIndex;
  uint16_t wLength;
} TarnlinkSetupPacket;

typedef struct TarnlinkDevice TarnlinkDevice; /* the library's own device object */

typedef struct TarnlinkDeviceFunctions {
  uint32_t abi_version; /* TARNLINK_DEVICE_ABI_VERSION */
  uint32_t size;        /* sizeof(TarnlinkDeviceFunctions) as the library was built */

  /* A new device in its power-on state, or null when it cannot be made. */
  TarnlinkDevice* (*create)(void);
  void (*destroy)(TarnlinkDevice* device);
  /* The fastest speed the device can run at (TARNLINK_SPEED_*). */
  uint8_t (*maximum_speed)(const TarnlinkDevice* device);
  /* The port reset: back to address 0, unconfigured, at the bus speed given. */
  void (*reset)(TarnlinkDevice* device, uint8_t bus_speed);
  /* Once at the start of every (micro)frame, before any transfer of that (micro)frame. */
  void (*start_of_frame)(TarnlinkDevice* device, const TarnlinkBusTime* time);
  /* A whole control transfer on endpoint 0. `data` holds setup->wLength bytes: for
   * device-to-host requests the device writes its answer there and sets *transferred to its
   * length (at most wLength); for host-to-device requests it reads them. Returns
   * TARNLINK_CONTROL_*. */
  uint8_t (*control)(TarnlinkDevice* device, const TarnlinkBusTime* time,
                     const TarnlinkSetupPacket* setup, uint8_t* data, uint32_t* transferred);
  /* One isochronous OUT packet for `endpoint` in this (micro)frame. Returns TARNLINK_ISO_*. */
  uint8_t (*iso_out)(TarnlinkDevice* device, const TarnlinkBusTime* time, uint8_t endpoint,
                     const uint8_t* packet, uint32_t length);
  /* One isochronous IN token: the device writes up to `capacity` bytes and sets *length, or
   * does not answer (TARNLINK_ISO_NO_RESPONSE). Returns TARNLINK_ISO_*. */
  uint8_t (*iso_in)(TarnlinkDevice* device, const TarnlinkBusTime* time, uint8_t endpoint,
                    uint8_t* buffer, uint32_t capacity, uint32_t* length);
} TarnlinkDeviceFunctions;

/* What a device library exports under TARNLINK_DEVICE_ENTRY. */
typedef const TarnlinkDeviceFunctions* (*TarnlinkDeviceEntry)(void);

#ifdef __cplusplus
}
#endif

#endif /* TARNLINK_SIM_DEVICES_DEVICE_ABI_H_ */
