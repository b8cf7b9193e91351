// start and stop, the streaming thread, one host period (the buffer switch) and the copies
// between the host's buffers and the devices' period buffers.
#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "formats/buffer_sizes.h"
#include "orv_asio_driver.h"
#include "start_stop_lock.h"

namespace {

constexpr DWORD kPowerWaitMs = 3000;
constexpr DWORD kThreadEndMs = 10000;
constexpr LONG kTimeInfoChangeFlags = kSampleRateChanged | kClockSourceChanged;

// Holds the start/stop lock for a scope.

}  // namespace

ASIOError COrvAsioDriver::start() {
  if (state_ == LOADED) return ASE_NotPresent;
  if (!WaitForPower(kPowerWaitMs)) return ASE_NotPresent;
  return StartStreaming(true);
}

ASIOError COrvAsioDriver::stop() {
  if (state_ == LOADED) return ASE_NotPresent;
  return StopStreaming();
}

ASIOError COrvAsioDriver::outputReady() {
  if (state_ == RUNNING) {
    hostUsesOutputReady_ = 1;
    outputWritten_ = 1;
    WriteOutput();
  }
  return ASE_OK;
}

ASIOError COrvAsioDriver::StartStreaming(bool resetPositions) {
  StartStopLock lock(&startStop_);
  if ((state_ != PREPARED && state_ != SUSPENDED) || callbacks_ == nullptr || resetPending_ != 0)
    return ASE_NotPresent;
  if (hostIn_.map.empty() && hostOut_.map.empty()) return ASE_NotPresent;
  const ULONG deviceRate = DeviceRateOf(asioRate_);
  if (periodFrames_ < BufferSizeFrames(0, deviceRate) ||
      periodFrames_ > BufferSizeFrames(kBufferSizeEntries - 1, deviceRate)) {
    RequestHostReset(1);
    return ASE_InvalidMode;
  }
  // The control panel chose another size since the buffers were made: the host should make
  // them again, but may stream on meanwhile.
  if (asioBufferSize_ != PreferredBufferSize()) RequestHostReset(0);
  if (resetPositions) {
    samplePosition_ = 0;
    currentHalf_ = 0;
    captureIndex_ = 0;
    outputFrameOffset_ = 0;
    outputIndex_ = 0;
  }
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, StreamingThread, this, CREATE_SUSPENDED, &threadId);
  if (thread == nullptr) {
    AsioTrace(kTraceStreamStartFailed, 1, GetLastError());
    return ASE_NotPresent;
  }
  if (!deviceGroup_.Start()) {
    AsioTrace(kTraceStreamStartFailed, 2);
    TerminateThread(thread, 0);
    CloseHandle(thread);
    return ASE_HWMalfunction;
  }
  for (size_t i = 0; i < deviceGroup_.Count(); ++i) deviceGroup_.At(i)->FollowRings();
  streamThread_ = thread;
  streamThreadId_ = threadId;
  state_ = RUNNING;
  stopFlag_ = 0;
  ResetEvent(stopEvent_);
  ResumeThread(thread);
  return ASE_OK;
}

ASIOError COrvAsioDriver::StopStreaming() {
  {
    StartStopLock lock(&startStop_);
    InterlockedExchange(&stopFlag_, 1);
    SetEvent(stopEvent_);
  }
  if (window_ != nullptr) {
    KillTimer(window_, kResumeTimer);
    KillTimer(window_, kIdleTimer);
  }
  if (!WaitForPower(kPowerWaitMs)) return ASE_NotPresent;
  StartStopLock lock(&startStop_);
  if (state_ == SUSPENDED) {
    state_ = PREPARED;
  } else if (state_ == RUNNING) {
    state_ = PREPARED;
    EndThread();
    deviceGroup_.Stop();
  }
  return ASE_OK;
}

void COrvAsioDriver::EndThread() {
  if (streamThread_ == nullptr) return;
  SetEvent(stopEvent_);
  // A host may stop from inside its buffer switch, on the streaming thread itself: the thread
  // then ends on its own as soon as the switch returns.
  if (streamThreadId_ != GetCurrentThreadId() &&
      WaitForSingleObject(streamThread_, kThreadEndMs) != WAIT_OBJECT_0) {
    AsioTrace(kTraceStreamThreadStuck);
    TerminateThread(streamThread_, 0);
    RequestHostReset(1);
    deviceGroup_.Cancel();
  }
  CloseHandle(streamThread_);
  streamThread_ = nullptr;
}

DWORD WINAPI COrvAsioDriver::StreamingThread(LPVOID parameter) {
  auto* driver = static_cast<COrvAsioDriver*>(parameter);
  DWORD taskIndex = 0;
  HANDLE task = AvSetMmThreadCharacteristicsW(WSTR("Pro Audio"), &taskIndex);
  if (task != nullptr) {
    AvSetMmThreadPriority(task, AVRT_PRIORITY_CRITICAL);
  } else {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  }
  if (driver->inputs_ > 0) {
    driver->RunWithInputs();
  } else {
    driver->RunOutputOnly();
  }
  if (task != nullptr) AvRevertMmThreadCharacteristics(task);
  return 0;
}

void COrvAsioDriver::RunWithInputs() {
  for (;;) {
    const RingWait ended = RunCapturePass();
    if (ended == RingWait::Stopped) {
      deviceGroup_.Cancel();
      return;
    }
    if (!RestartInPlace(ended == RingWait::Interrupted)) return;
  }
}

RingWait COrvAsioDriver::RunCapturePass() {
  const size_t devices = deviceGroup_.Count();
  for (size_t i = 0; i < devices; ++i) deviceGroup_.At(i)->ResetCaptureFill();
  if (!deviceGroup_.Arm()) return RingWait::Error;
  bool synced = false;
  for (;;) {
    RingWait result = RingWait::Complete;
    for (size_t i = 0; i < devices && result == RingWait::Complete; ++i)
      result = deviceGroup_.At(i)->ReadCapturePeriod(captureIndex_, stopEvent_);
    if (stopFlag_ != 0) return RingWait::Stopped;
    if (result != RingWait::Complete) return result;
    if (!synced) {
      // Every device starts its output from the latest start any of them saw; the kernel
      // driver inserts the difference at the producer's offset, which this side follows.
      synced = true;
      deviceGroup_.SyncStartTimes();
      for (size_t i = 0; i < devices; ++i) deviceGroup_.At(i)->FollowPlaybackWriter();
    }
    CopyCapture(captureIndex_);
    for (size_t i = 0; i < devices; ++i) deviceGroup_.At(i)->CapturePeriod(captureIndex_).fill = 0;
    BufferSwitch(false);
    captureIndex_ = (captureIndex_ + 1) % queueDepth_;
  }
}

bool COrvAsioDriver::RestartInPlace(bool interrupted) {
  // Start and stop hold this lock while they wait for this thread: never wait for it here.
  const bool entered = TryEnterCriticalSection(&startStop_) != FALSE;
  bool restarted = false;
  if (entered && stopFlag_ == 0 && (interrupted || deviceGroup_.Interrupted())) {
    AsioTrace(kTraceStreamRestarted);
    deviceGroup_.Cancel();
    for (size_t i = 0; i < deviceGroup_.Count(); ++i) deviceGroup_.At(i)->FillPeriods();
    deviceGroup_.Stop();
    restarted = deviceGroup_.Start();
    if (restarted) {
      for (size_t i = 0; i < deviceGroup_.Count(); ++i) deviceGroup_.At(i)->FollowRings();
    }
  }
  if (entered) LeaveCriticalSection(&startStop_);
  if (restarted) return true;
  if (stopFlag_ == 0) {
    AsioTrace(kTraceStreamBrokenOff, interrupted);
    RequestHostReset(1);
  }
  deviceGroup_.Cancel();
  return false;
}

void COrvAsioDriver::RunOutputOnly() {
  // The first periods go out back to back, so that the rings hold a queue before the driver
  // starts taking from them.
  for (ULONG i = 0; i < queueDepth_; ++i) {
    if (!BufferSwitch(false)) break;
  }
  const size_t devices = deviceGroup_.Count();
  if (stopFlag_ == 0 && deviceGroup_.Arm()) {
    for (;;) {
      RingWait result = RingWait::Complete;
      for (size_t i = 0; i < devices && result == RingWait::Complete; ++i)
        result = deviceGroup_.At(i)->WaitPlaybackSpace(stopEvent_);
      if (result == RingWait::Stopped || stopFlag_ != 0) {
        deviceGroup_.Cancel();
        return;
      }
      if (result != RingWait::Complete) break;
      BufferSwitch(false);
    }
  }
  if (stopFlag_ == 0) {
    AsioTrace(kTraceStreamBrokenOff, 0);
    RequestHostReset(1);
  }
  deviceGroup_.Cancel();
}

void COrvAsioDriver::TakeTimeStamp() {
  const double nanoseconds = timeGetTime() * 1000000.0;
  const double hi = static_cast<double>(static_cast<ULONG>(nanoseconds / 4294967296.0));
  timeStamp_.hi = static_cast<ULONG>(hi);
  timeStamp_.lo = static_cast<ULONG>(nanoseconds - hi * 4294967296.0);
}

bool COrvAsioDriver::BufferSwitch(bool idle) {
  TakeTimeStamp();
  samplePosition_ += asioBufferSize_;
  outputWritten_ = 0;
  stoppedFlag_ = 0;
  if (stopFlag_ != 0) {
    stoppedFlag_ = 1;
    return false;
  }
  const LONG half = static_cast<LONG>(currentHalf_);
  if (timeInfoMode_ != 0) {
    getSamplePosition(&timeInfo_.timeInfo.samplePosition, &timeInfo_.timeInfo.systemTime);
    if (timeCodeEnabled_ != 0) {
      timeInfo_.timeCode.timeCodeSamples.hi = 0;
      timeInfo_.timeCode.timeCodeSamples.lo =
          static_cast<ULONG>(asioRate_ * 600.0 + timeInfo_.timeInfo.samplePosition.lo);
    }
    callbacks_->bufferSwitchTimeInfo(&timeInfo_, half, ASIOTrue);
    timeInfo_.timeInfo.flags &= ~static_cast<ULONG>(kTimeInfoChangeFlags);
  } else {
    callbacks_->bufferSwitch(half, ASIOTrue);
  }
  // A host that stopped inside the switch may already be taking its buffers away.
  if (stopFlag_ != 0) {
    stoppedFlag_ = 1;
    return false;
  }
  if (hostOut_.map.empty() || idle) {
    currentHalf_ ^= 1;
  } else if (hostUsesOutputReady_ == 0) {
    // The half written is the one the host filled a period ago.
    currentHalf_ ^= 1;
    WriteOutput();
  } else {
    if (outputWritten_ == 0) WriteOutput();
    currentHalf_ ^= 1;
  }
  return stoppedFlag_ == 0;
}

void COrvAsioDriver::CopyCapture(ULONG period) {
  const ULONG b = bytesPerSample_;
  for (size_t k = 0; k < hostIn_.map.size(); ++k) {
    const ChannelLocation where = hostIn_.map[k];
    DeviceStream* device = deviceGroup_.At(where.device);
    const ULONG stride = b * device->InputChannels();
    const BYTE* from = device->CapturePeriod(period).bytes.data() + b * where.channel;
    BYTE* to = hostIn_.halves[currentHalf_][k].data();
    for (ULONG frame = 0; frame < periodFrames_; ++frame)
      std::memcpy(to + b * frame, from + stride * frame, b);
  }
}

void COrvAsioDriver::WriteOutput() {
  const ULONG b = bytesPerSample_;
  for (size_t k = 0; k < hostOut_.map.size(); ++k) {
    const ChannelLocation where = hostOut_.map[k];
    DeviceStream* device = deviceGroup_.At(where.device);
    const ULONG stride = b * device->OutputChannels();
    BYTE* to = device->PlaybackPeriod(outputIndex_).bytes.data() + b * where.channel +
               stride * outputFrameOffset_;
    const BYTE* from = hostOut_.halves[currentHalf_][k].data();
    for (ULONG frame = 0; frame < periodFrames_; ++frame)
      std::memcpy(to + stride * frame, from + b * frame, b);
  }
  outputFrameOffset_ += periodFrames_;
  if (outputFrameOffset_ < periodFrames_) return;
  outputFrameOffset_ = 0;
  for (size_t i = 0; i < deviceGroup_.Count(); ++i) {
    const DWORD error = deviceGroup_.At(i)->WritePlaybackPeriod(outputIndex_);
    if (error != 0 && error != ERROR_IO_PENDING) {
      AsioTrace(kTraceOutputWriteFailed, error);
      stoppedFlag_ = 1;
    }
  }
  outputIndex_ = (outputIndex_ + 1) % 2;
}
