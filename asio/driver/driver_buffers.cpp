// createBuffers and disposeBuffers: the host's double buffers, the channel maps, the prepared
// devices and the host's callbacks.
#include <algorithm>
#include <new>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "formats/buffer_sizes.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"
#include "orv_asio_driver.h"

namespace {

constexpr DWORD kPowerWaitMs = 3000;
constexpr BYTE kDsdSilence = 0x96;
constexpr ULONG kMinimumQueueDepth = 2;

// Periods queued ahead: enough to cover two milliseconds, at least two.
ULONG QueueDepth(ULONG periodFrames, ULONG rate) {
  const ULONG periodMs = periodFrames * 1000;
  return std::max(kMinimumQueueDepth, (periodMs + 2 * rate - 1) / periodMs);
}

}  // namespace

ASIOError COrvAsioDriver::AllocateHostBuffers(ASIOBufferInfo* infos, LONG count) {
  hostIn_.inUse.assign(inputs_, 0);
  hostOut_.inUse.assign(outputs_, 0);
  hostIn_.map.reserve(inputs_);
  hostOut_.map.reserve(outputs_);
  for (auto& half : hostIn_.halves) half.reserve(inputs_);
  for (auto& half : hostOut_.halves) half.reserve(outputs_);
  // Whole 32-bit words, whatever the sample size.
  const ULONG bufferBytes = (periodFrames_ * bytesPerSample_ + 3) & ~3u;
  const BYTE fill = DsdMode() ? kDsdSilence : 0;
  for (LONG i = 0; i < count; ++i) {
    ASIOBufferInfo& info = infos[i];
    const bool input = info.isInput != ASIOFalse;
    HostChannels& host = input ? hostIn_ : hostOut_;
    if (info.channelNum < 0 || static_cast<size_t>(info.channelNum) >= host.inUse.size()) {
      AsioTrace(kTraceChannelOutOfRange, input, info.channelNum);
      return ASE_InvalidParameter;
    }
    if (host.inUse[info.channelNum] != 0) {
      AsioTrace(kTraceChannelOverlapped, input, info.channelNum);
      return ASE_InvalidParameter;
    }
    host.inUse[info.channelNum] = 1;
    ChannelLocation where = {};
    if (!deviceGroup_.MapChannel(input, static_cast<ULONG>(info.channelNum), &where)) {
      AsioTrace(kTraceChannelOutOfRange, input, info.channelNum);
      return ASE_InvalidParameter;
    }
    host.map.push_back(where);
    for (int h = 0; h < 2; ++h) {
      host.halves[h].emplace_back(bufferBytes, fill);
      info.buffers[h] = host.halves[h].back().data();
    }
  }
  return ASE_OK;
}

void COrvAsioDriver::FreeHostBuffers() {
  for (HostChannels* host : {&hostIn_, &hostOut_}) {
    host->inUse.clear();
    host->map.clear();
    for (auto& half : host->halves) half.clear();
  }
}

PrepareRequest COrvAsioDriver::PrepareFor() const {
  const ULONG deviceRate = DeviceRateOf(asioRate_);
  const ULONG smallest = BufferSizeFrames(0, deviceRate);
  const ULONG largest = BufferSizeFrames(kBufferSizeEntries - 1, deviceRate);
  PrepareRequest request = {};
  request.periodFrames = periodFrames_;
  request.captureWanted = inputs_ > 0 ? 1 : 0;
  request.playbackWanted = outputs_ > 0 ? 1 : 0;
  // Where the buffer lies between the smallest and the largest size (unsigned: a size below
  // the smallest comes out huge, which the kernel driver takes as 100).
  request.latencyPercent = largest > smallest ? (periodFrames_ - smallest) * 100 / (largest - smallest) : 0;
  request.dsd = DsdMode() ? 1 : 0;
  request.formatTag = FormatTagOf(sampleType_);
  return request;
}

void COrvAsioDriver::TakeCallbacks(ASIOCallbacks* callbacks) {
  {
    InstanceLock lock(instanceMutex_);
    callbacks_ = callbacks;
  }
  auto message = [callbacks](LONG selector) {
    return callbacks->asioMessage != nullptr
               ? callbacks->asioMessage(selector, 0, nullptr, nullptr)
               : 0;
  };
  // A host older than engine version 2 does not know outputReady.
  if (message(kAsioEngineVersion) < 2) hostUsesOutputReady_ = 0;
  timeInfo_ = {};
  timeInfoMode_ = message(kAsioSupportsTimeInfo) != 0 && callbacks->bufferSwitchTimeInfo != nullptr;
  if (timeInfoMode_ == 0) return;
  timeInfo_.timeInfo.speed = 1.0;
  timeInfo_.timeInfo.sampleRate = asioRate_;
  timeInfo_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
  timeInfo_.timeCode.speed = 1.0;
  timeInfo_.timeCode.flags = kTcValid | kTcRunning;
}

ASIOError COrvAsioDriver::createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels,
                                        LONG bufferSize, ASIOCallbacks* callbacks) {
  if (state_ != INITIALIZED) return ASE_NotPresent;
  if (!WaitForPower(kPowerWaitMs)) return ASE_NotPresent;
  InstanceLock lock(instanceMutex_);
  if (!CheckHandles()) return ASE_NotPresent;
  if (bufferInfos == nullptr || callbacks == nullptr || numChannels <= 0 ||
      static_cast<ULONG>(numChannels) > inputs_ + outputs_ || resetPending_ != 0)
    return ASE_InvalidParameter;
  if (asioRate_ == pendingRate_) {
    if (!SetDeviceRate(asioRate_)) return ASE_NoClock;
  } else if (const ASIOError applied = setSampleRate(asioRate_); applied != ASE_OK) {
    return applied;
  }
  const ULONG size = static_cast<ULONG>(bufferSize);
  if (IsDsdSampleType(sampleType_)) {
    if (bufferSize <= 0 || size % kDsdWordBits != 0) {
      AsioTrace(kTraceInvalidBufferSize, size);
      return ASE_InvalidParameter;
    }
    periodFrames_ = size / kDsdWordBits;
  } else {
    periodFrames_ = size;
  }
  if (periodFrames_ == 0) {
    AsioTrace(kTraceInvalidBufferSize, size);
    return ASE_InvalidParameter;
  }
  asioBufferSize_ = size;
  queueDepth_ = QueueDepth(periodFrames_, asioRate_);
  rateOverride_ = 0;
  RecomputeBytesPerHalf();
  ASIOError result = ASE_OK;
  try {
    result = AllocateHostBuffers(bufferInfos, numChannels);
  } catch (const std::bad_alloc&) {
    result = ASE_NoMemory;
  }
  if (result == ASE_OK) {
    const PeriodGeometry geometry = {queueDepth_, periodFrames_, bytesPerSample_,
                                     static_cast<BYTE>(DsdMode() ? kDsdSilence : 0),
                                     inputs_ > 0};
    try {
      if (!deviceGroup_.Prepare(PrepareFor(), geometry)) result = ASE_HWMalfunction;
    } catch (const std::bad_alloc&) {
      result = ASE_NoMemory;
    }
  }
  if (result != ASE_OK) {
    AsioTrace(kTraceCreateBuffersFailed, static_cast<ULONG>(result));
    FreeHostBuffers();
    return result;
  }
  TakeCallbacks(callbacks);
  state_ = PREPARED;
  return ASE_OK;
}

ASIOError COrvAsioDriver::disposeBuffers() {
  if (state_ != PREPARED) return ASE_NotPresent;
  {
    InstanceLock lock(instanceMutex_);
    callbacks_ = nullptr;
  }
  FreeHostBuffers();
  timeInfoMode_ = 0;
  timeInfo_ = {};
  resetPending_ = 0;
  deviceGroup_.Unprepare();
  state_ = INITIALIZED;
  return ASE_OK;
}
