// The devices one ASIO driver object drives together. Every operation holds the group's
// critical section and walks the devices in the order they were opened.
#pragma once

#include <memory>
#include <vector>

#include "device_stream.h"

struct DeviceAggregates {
  ULONG inputs;
  ULONG outputs;
  ULONG bits;  // the smallest over the devices; 32 with none
  bool allFloat;
  bool allDsdNative;
  // The rates every device can run; 0..0 when they share none. Aligned, although the record
  // is packed on the wire, so that its fields can be used in place.
  alignas(ULONG) RateRange range;
};

struct ChannelLocation {
  size_t device;
  ULONG channel;  // within the device
};

class DeviceGroup {
 public:
  DeviceGroup();
  ~DeviceGroup();
  DeviceGroup(const DeviceGroup&) = delete;
  DeviceGroup& operator=(const DeviceGroup&) = delete;

  // Opens, acquires and loads one device and appends it; false (nothing appended) on failure.
  bool Open(const WCHAR* path, const WCHAR* instanceId, const WCHAR* description);
  void CloseAll();

  // Stops at the first device that refuses.
  bool SetRate(ULONG rate);
  // On a failure the devices prepared before are unprepared again.
  bool Prepare(const PrepareRequest& request, const PeriodGeometry& geometry);
  void Unprepare();
  // On a failure the devices started before are stopped again.
  bool Start();
  void Stop();
  bool Arm();
  // True when any device broke its stream off; false also when one cannot be asked.
  bool Interrupted();
  // Gives every device the latest start time any of them took.
  bool SyncStartTimes();
  // Whether every handle still reaches its device.
  bool Check();
  void Cancel();
  // False when the power state cannot be read; else *on is whether every device is on.
  bool Power(bool* on);

  DeviceAggregates Aggregates();
  // The largest input and output latency over the devices at a buffer of bufferFrames device
  // frames; false when a device has none to give.
  bool Latencies(ULONG bufferFrames, ULONG* input, ULONG* output);
  // The device and its channel of channel n of a direction over all devices; false beyond.
  bool MapChannel(bool input, ULONG n, ChannelLocation* location);

  size_t Count();
  // The device at index, for the streaming path and tests; valid until the next CloseAll.
  DeviceStream* At(size_t index);

 private:
  class Lock;
  std::vector<std::unique_ptr<DeviceStream>> devices_;
  CRITICAL_SECTION lock_;
};
