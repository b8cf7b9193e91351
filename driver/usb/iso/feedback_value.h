// The feedback value: unsigned 16.16 fixed point, audio frames per service interval on a
// high-speed device (per microframe for capture) and per 1 ms frame on a full-speed device.
#pragma once

#include "kernel_mode.h"
#include "usb/usb.h"

// The value a device running exactly at `rate` reports; direction as Value(Direction::...).
ULONG NominalFeedback(ULONG rate, BOOLEAN highSpeed, ULONG direction, ULONG serviceInterval);

// One completed read of the feedback endpoint, as the USB stack returned it.
struct FeedbackRead {
  const USBD_ISO_PACKET_DESCRIPTOR* packets;
  ULONG packetCount;
  const UCHAR* buffer;
  ULONG bufferBytes;     // the buffer's size: no packet is read beyond it
  ULONG transferLength;  // bytes the read delivered
};

// The average of the read's values. 3-byte packets are the full-speed 10.14 format, widened;
// 4-byte packets are 16.16; an empty packet repeats the last value; failed and odd-sized
// packets are skipped. lastRaw carries the last value from read to read. A read that delivered
// nothing repeats lastRaw; 0 when no packet counted.
ULONG DecodeFeedback(const FeedbackRead& read, ULONG& lastRaw);
