// What the driver knows of particular models beyond what they report: channel names, the rates
// whose latency was measured, and the measured latencies.
#pragma once

#include <cstddef>

#include "user_mode.h"

struct LatencyPoint {
  ULONG rate;
  ULONG captureOffset;  // frames added to the input latency
  ULONG bufferA;
  ULONG roundTripA;  // round-trip latency in frames, measured at buffer size A
  ULONG bufferB;
  ULONG roundTripB;
};

struct DeviceProfile {
  LPCWSTR hardwareId;  // matched anywhere in the instance id
  const char* inputNames[2];
  const char* outputNames[2];
  const LatencyPoint* latencies;
  size_t latencyCount;

  // The measured point of rate, or nullptr: a profiled device runs only at measured rates.
  const LatencyPoint* LatencyAt(ULONG rate) const;
};

// The first profile whose hardware id occurs in instanceId, or nullptr.
const DeviceProfile* FindDeviceProfile(const WCHAR* instanceId);
