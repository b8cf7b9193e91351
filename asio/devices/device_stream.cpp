#include "device_stream.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "formats/sample_rates.h"
#include "wide_text.h"

namespace {

bool Usable(const FormatQueryRecord& record, const DeviceProfile* profile) {
  const bool plays = record.playbackChannels != 0 && record.playbackBits != 0;
  const bool records = record.captureChannels != 0 && record.captureBits != 0;
  return (plays || records) && (profile == nullptr || profile->LatencyAt(record.sampleRate));
}

}  // namespace

DeviceStream::DeviceStream() { InitializeCriticalSection(&lock_); }

DeviceStream::~DeviceStream() {
  Close();
  DeleteCriticalSection(&lock_);
}

void DeviceStream::Close() {
  // Closing the handle ends the kernel driver's ownership and whatever stream it still holds.
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  for (HANDLE* event : {&overlapped_.hEvent, &periodEvent_, &outputEvent_}) {
    if (*event != nullptr) CloseHandle(*event);
    *event = nullptr;
  }
  ForgetRings();
}

bool DeviceStream::Open(const WCHAR* path, const WCHAR* instanceId, const WCHAR* description) {
  Close();
  handle_ = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  overlapped_ = {};
  overlapped_.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  periodEvent_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  outputEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE || overlapped_.hEvent == nullptr ||
      periodEvent_ == nullptr || outputEvent_ == nullptr) {
    AsioTrace(kTraceDeviceOpenFailed, GetLastError());
    Close();
    return false;
  }
  CopyText(instanceId_, instanceId, kInstanceIdUnits);
  CopyText(description_, description, kDescriptionUnits);
  return true;
}

bool DeviceStream::Request(DWORD code, const void* input, DWORD inputBytes, void* output,
                           DWORD outputBytes, DWORD* returned) {
  DWORD bytes = 0;
  EnterCriticalSection(&lock_);
  // The kernel driver completes every private request at once, so a request still pending is a
  // failure. It is cancelled and waited for all the same: it must not outlive the buffers and
  // the OVERLAPPED the next request reuses.
  bool ok = DeviceIoControl(handle_, code, const_cast<void*>(input), inputBytes, output,
                            outputBytes, &bytes, &overlapped_) &&
            GetOverlappedResult(handle_, &overlapped_, &bytes, TRUE);
  if (!ok) {
    const DWORD error = GetLastError();
    AsioTrace(kTraceDeviceRequestFailed, code, error);
    if (error == ERROR_IO_PENDING) {
      CancelIoEx(handle_, &overlapped_);
      GetOverlappedResult(handle_, &overlapped_, &bytes, TRUE);
      bytes = 0;
    }
  }
  LeaveCriticalSection(&lock_);
  if (returned != nullptr) *returned = bytes;
  return ok;
}

bool DeviceStream::RequestFixed(DWORD code, void* reply, DWORD replyBytes) {
  DWORD returned = 0;
  return Request(code, nullptr, 0, reply, replyBytes, &returned) && returned == replyBytes;
}

bool DeviceStream::QueryFormats(USHORT tag) {
  FormatQueryRecord records[std::size(kPcmRates)] = {};
  for (size_t i = 0; i < std::size(kPcmRates); ++i) {
    records[i].formatTag = tag;
    records[i].sampleRate = kPcmRates[i];
  }
  DWORD returned = 0;
  if (!Request(IOCTL_ASIO_QUERY_FORMATS, records, sizeof records, records, sizeof records,
               &returned) ||
      returned != sizeof records)
    return false;
  formats_.clear();
  for (const FormatQueryRecord& record : records) {
    if (Usable(record, profile_)) formats_.push_back(record);
  }
  return true;
}

bool DeviceStream::LoadInfo() {
  profile_ = FindDeviceProfile(instanceId_);
  ULONG fixedRate = 0;
  if (!RequestFixed(IOCTL_ASIO_GET_FIXED_RATE, &fixedRate, sizeof fixedRate) ||
      !RequestFixed(IOCTL_ASIO_GET_RATE_RANGE, &rateRange_, sizeof rateRange_) ||
      !QueryFormats(ASIO_FORMAT_FLOAT)) {
    AsioTrace(kTraceDeviceLoadFailed, 1);
    return false;
  }
  deviceRate_ = fixedRate != 0 ? fixedRate : 44100;
  float_ = formats_.empty() ? 0 : 1;
  if (formats_.empty() && (!QueryFormats(ASIO_FORMAT_PCM) || formats_.empty())) {
    AsioTrace(kTraceDeviceLoadFailed, 2);
    return false;
  }
  // The usable rates are what the device can really run at.
  const auto [lowest, highest] = std::minmax_element(
      formats_.begin(), formats_.end(),
      [](const FormatQueryRecord& a, const FormatQueryRecord& b) {
        return a.sampleRate < b.sampleRate;
      });
  rateRange_ = {lowest->sampleRate, highest->sampleRate};
  if (!RequestFixed(IOCTL_ASIO_GET_DSD_NATIVE, &dsdNative_, sizeof dsdNative_) ||
      !RequestFixed(IOCTL_ASIO_GET_CAPTURE_PERIOD_MS, &capturePeriodMs_,
                    sizeof capturePeriodMs_)) {
    AsioTrace(kTraceDeviceLoadFailed, 3);
    return false;
  }
  UseRate(deviceRate_);
  return true;
}

void DeviceStream::UseRate(ULONG rate) {
  deviceRate_ = rate;
  const auto record = std::find_if(formats_.begin(), formats_.end(),
                                    [rate](const FormatQueryRecord& r) {
                                      return r.sampleRate == rate;
                                    });
  if (record == formats_.end()) {
    inputChannels_ = outputChannels_ = 0;
    return;
  }
  // Copied out of the packed record before they are compared.
  const ULONG playbackBits = record->playbackBits;
  const ULONG captureBits = record->captureBits;
  inputChannels_ = record->captureChannels & 0xFFFF;
  outputChannels_ = record->playbackChannels & 0xFFFF;
  if (inputChannels_ != 0 && outputChannels_ != 0) {
    bitsPerSample_ = std::min(playbackBits, captureBits);
  } else {
    bitsPerSample_ = outputChannels_ != 0 ? playbackBits : captureBits;
  }
}

bool DeviceStream::SetRate(ULONG rate) {
  if (!Request(IOCTL_ASIO_SET_RATE, &rate, sizeof rate, nullptr, 0)) return false;
  UseRate(rate);
  return true;
}

bool DeviceStream::Prepare(PrepareRequest request, const PeriodGeometry& geometry) {
  AllocatePeriods(geometry);
  request.periodEvent = reinterpret_cast<ULONG_PTR>(periodEvent_);
  request.outputEvent = reinterpret_cast<ULONG_PTR>(outputEvent_);
  PrepareResult result = {};
  DWORD returned = 0;
  if (!Request(IOCTL_ASIO_PREPARE, &request, sizeof request, &result, sizeof result, &returned) ||
      returned < sizeof result) {
    FreePeriods();
    return false;
  }
  captureRing_ = result.captureRing;
  playbackRing_ = result.playbackRing;
  captureView_ = ClientRing(captureRing_);
  playbackView_ = ClientRing(playbackRing_);
  dsd_ = request.dsd;
  return true;
}

void DeviceStream::ForgetRings() {
  captureRing_ = 0;
  playbackRing_ = 0;
  captureView_ = ClientRing();
  playbackView_ = ClientRing();
  FreePeriods();
}
