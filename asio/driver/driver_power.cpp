// System suspend and resume, seen by the device-watch window: streaming stops before the
// system sleeps, the host keeps receiving buffer switches from a timer meanwhile, and the
// stream starts again once every device is back.
#include "asio_trace.h"
#include "asio_trace_points.h"
#include "orv_asio_driver.h"
#include "start_stop_lock.h"

namespace {

constexpr UINT kResumeRetryMs = 100;
constexpr ULONG kResumeChecks = 10;

}  // namespace

void COrvAsioDriver::OnSuspend() {
  StartStopLock lock(&startStop_);
  if (suspendRetries_ != 0) KillTimer(window_, kResumeTimer);
  suspendRetries_ = 0;
  if (state_ != RUNNING) return;
  AsioTrace(kTraceSuspendResume, 1);
  InterlockedExchange(&stopFlag_, 1);
  EndThread();
  deviceGroup_.Stop();
  // The idle switches run without the devices; they must reach the host.
  InterlockedExchange(&stopFlag_, 0);
  state_ = SUSPENDED;
  if (asioRate_ != 0 && asioBufferSize_ != 0) {
    const ULONGLONG period = (static_cast<ULONGLONG>(asioBufferSize_) * 1000 + asioRate_ - 1) / asioRate_;
    SetTimer(window_, kIdleTimer, static_cast<UINT>(period), nullptr);
  }
}

void COrvAsioDriver::OnResumeCheck() {
  StartStopLock lock(&startStop_);
  if (state_ != SUSPENDED) {
    KillTimer(window_, kResumeTimer);
    KillTimer(window_, kIdleTimer);
    suspendRetries_ = 0;
    return;
  }
  if (suspendRetries_ != 0) KillTimer(window_, kResumeTimer);
  bool on = false;
  if (!deviceGroup_.Power(&on)) {
    AsioTrace(kTraceSuspendResume, 2);
    KillTimer(window_, kIdleTimer);
    RequestHostReset(1);
    suspendRetries_ = 0;
    return;
  }
  if (on) {
    AsioTrace(kTraceSuspendResume, 3);
    KillTimer(window_, kIdleTimer);
    if (StartStreaming(false) != ASE_OK) RequestHostReset(1);
    suspendRetries_ = 0;
    return;
  }
  if (++suspendRetries_ >= kResumeChecks) {
    AsioTrace(kTraceSuspendResume, 4);
    KillTimer(window_, kIdleTimer);
    RequestHostReset(1);
    suspendRetries_ = 0;
    return;
  }
  SetTimer(window_, kResumeTimer, kResumeRetryMs, nullptr);
}

void COrvAsioDriver::OnIdleTick() {
  if (state_ == SUSPENDED) BufferSwitch(true);
}
