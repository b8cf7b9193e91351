// One opened device: its overlapped private handle, whose requests one critical section keeps
// apart, the two stream events handed to the kernel driver, and what the device said of itself
// at open.
#pragma once

#include <vector>

#include "device_list_entry.h"
#include "device_profile.h"

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
  // Prepares the stream with request's fields and this stream's events; keeps the ring
  // addresses on success.
  bool Prepare(PrepareRequest request);
  void ForgetRings();

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

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  CRITICAL_SECTION lock_;
  OVERLAPPED overlapped_ = {};
  HANDLE periodEvent_ = nullptr;
  HANDLE outputEvent_ = nullptr;
  ULONGLONG captureRing_ = 0;
  ULONGLONG playbackRing_ = 0;
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
