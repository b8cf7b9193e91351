// The latencies the driver reports for one device: measured round trips for a profiled device
// with inputs, a fixed estimate of the output path otherwise.
#pragma once

#include "device_profile.h"

struct DeviceLatencyInput {
  const DeviceProfile* profile;
  ULONG rate;  // the device rate
  ULONG inputChannels;
  ULONG outputChannels;
  ULONG capturePeriodMs;
  ULONG bufferFrames;  // the buffer size in device frames
};

// False when a profiled device with inputs has no measurement at the rate.
bool DeviceLatency(const DeviceLatencyInput& device, ULONG* input, ULONG* output);
