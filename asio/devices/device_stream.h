// One opened device: its overlapped private handle, whose requests one critical section keeps
// apart, the two stream events handed to the kernel driver, and what the device said of itself
// at open.
#pragma once

#include <vector>

#include "client_ring.h"
#include "device_list_entry.h"
#include "device_profile.h"

// One period of interleaved device frames on its way between the host's buffers and a ring.
struct PeriodBuffer {
  std::vector<BYTE> bytes;  // length rounded up to whole 4-byte words
  ULONG length = 0;
  ULONG fill = 0;  // bytes delivered so far (capture)
};

// How a wait for the next period ended.
enum class RingWait { Complete, Stopped, Interrupted, Error };

// The geometry of the host-side period buffers a prepare allocates.
struct PeriodGeometry {
  ULONG queueDepth;
  ULONG periodFrames;
  ULONG bytesPerSample;
  BYTE fillByte;
  bool driverHasInputs;
}; 
class DeviceStream {
 public:
  DeviceStream();
  ~DeviceStream();
  DeviceStream(const DeviceStream&) = delete;
  DeviceStream& operator=(const DeviceStream&) = delete;

  // Opens the private path for overlapped requests and creates the events; false on failure.
  bool Open(const WCHAR* path, const WCHAR* instanceId, const WCHAR* description);
  // One request; true when the driver completed it successfully. returned may be null.
  bool Request(DWORD code, const void* input, DWORD inputBytes, void* output, DWORD outputBytes,
               DWORD* returned = nullptr);
  // A request whose reply has a fixed size: true only when exactly that many bytes came back.
  bool RequestFixed(DWORD code, void* reply, DWORD replyBytes);

  // Reads the profile, rates, formats and capabilities after open; false fails the open.
  bool LoadInfo();
  // Takes rate as the device rate and derives its channels and bits.
  void UseRate(ULONG rate);

  bool SetRate(ULONG rate);
  // Allocates the period buffers, then prepares the stream with request's fields and this
  // stream's events; keeps the rings on success and frees the buffers on failure.
  bool Prepare(PrepareRequest request, const PeriodGeometry& geometry);
  void ForgetRings();

  // Streaming (the streaming thread; Q = queue depth, P = period frames).
  // Capture: fills capture period buffer c from the ring, waiting for the period event (or
  // stop) while the ring is empty. Output only: waits until the playback ring has room for a
  // period.
  RingWait ReadCapturePeriod(ULONG c, HANDLE stopEvent);
  RingWait WaitPlaybackSpace(HANDLE stopEvent);
  PeriodBuffer& CapturePeriod(ULONG c) { return capture_[c]; }
  PeriodBuffer& PlaybackPeriod(ULONG o) { return playback_[o]; }
  void ResetCaptureFill();
  // Writes playback period o into the ring and tells the driver; 0 or a Win32 error.
  DWORD WritePlaybackPeriod(ULONG o);
  // Every period buffer back to the fill byte.
  void FillPeriods();
  // After the driver reset the rings (start): the producer continues after the prefill, the
  // consumer from 0.
  void FollowRings();
  // The driver wrote fill frames as the playback ring's producer (a start time was set): the
  // producer continues after them. The capture ring's reader keeps its place.
  void FollowPlaybackWriter();

  HANDLE Handle() const { return handle_; }
  HANDLE PeriodEvent() const { return periodEvent_; }
  HANDLE OutputEvent() const { return outputEvent_; }
  ULONGLONG CaptureRing() const { return captureRing_; }
  ULONGLONG PlaybackRing() const { return playbackRing_; }
  const WCHAR* InstanceId() const { return instanceId_; }
  const WCHAR* Description() const { return description_; }
  const DeviceProfile* Profile() const { return profile_; }
  ULONG DeviceRate() const { return deviceRate_; }
  RateRange Range() const { return rateRange_; }
  const std::vector<FormatQueryRecord>& Formats() const { return formats_; }
  bool Float() const { return float_ != 0; }
  bool DsdNative() const { return dsdNative_ != 0; }
  ULONG CapturePeriodMs() const { return capturePeriodMs_; }
  ULONG InputChannels() const { return inputChannels_; }
  ULONG OutputChannels() const { return outputChannels_; }
  ULONG BitsPerSample() const { return bitsPerSample_; }
  USHORT Dsd() const { return dsd_; }

 private:
  // Sends the 13-rate format query with tag and keeps the usable records; false when the
  // request fails.
  bool QueryFormats(USHORT tag);
  void Close();
  void AllocatePeriods(const PeriodGeometry& geometry);
  void FreePeriods();

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  CRITICAL_SECTION lock_;
  OVERLAPPED overlapped_ = {};
  HANDLE periodEvent_ = nullptr;
  HANDLE outputEvent_ = nullptr;
  ULONGLONG captureRing_ = 0;
  ULONGLONG playbackRing_ = 0;
  ClientRing captureView_;
  ClientRing playbackView_;
  std::vector<PeriodBuffer> capture_;
  std::vector<PeriodBuffer> playback_;
  BYTE fillByte_ = 0;
  bool driverHasInputs_ = false;
  WCHAR instanceId_[kInstanceIdUnits + 1] = {};
  WCHAR description_[kDescriptionUnits + 1] = {};
  const DeviceProfile* profile_ = nullptr;
  ULONG deviceRate_ = 0;
  RateRange rateRange_ = {};
  std::vector<FormatQueryRecord> formats_;
  ULONG float_ = 0;
  ULONG dsdNative_ = 0;
  ULONG capturePeriodMs_ = 0;
  ULONG inputChannels_ = 0;
  ULONG outputChannels_ = 0;
  ULONG bitsPerSample_ = 0;
  USHORT dsd_ = 0;
};
