#include "stream_trace.h"

#include <cmath>

#include "sim/audioengine/ks_client.h"

namespace tarnlink::tool {

bool TraceRecorder::Sample() {
  const uint64_t now = kernel_.InterruptTime();
  if (!started_) {
    startTime_ = now;
    started_ = true;
  }
  trace_.seconds.push_back(static_cast<double>(now - startTime_) / 1e7);
  const sim::devices::PlaybackSink* sink =
      device_ != nullptr && playbackInterface_ >= 0
          ? device_->Sink(static_cast<uint8_t>(playbackInterface_))
          : nullptr;
  const bool playing = sink != nullptr && sink->Running();
  trace_.fifo.values.push_back(playing ? sink->Level() : NAN);
  const sim::devices::FeedbackSeen sent =
      device_ != nullptr ? device_->Feedback() : sim::devices::FeedbackSeen{};
  trace_.feedback.values.push_back(sent.ticksPerSecond != 0 ? sent.Rate(sent.last) : NAN);
  trace_.captureError.values.push_back(capture_ != nullptr ? CaptureError() : NAN);
  return !stopped_;
}

double TraceRecorder::CaptureError() {
  KSAUDIO_POSITION position = {};
  uint64_t at = 0;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (!machine_.RunInKernelThread([&] {
        status = sim::audioengine::Position(capture_->PinHandle(), &position);
        at = KeQueryInterruptTime();
      })) {
    stopped_ = true;
    return NAN;
  }
  const sim::audioengine::PinFormat& format = capture_->Format();
  const ULONG bufferBytes = 2 * capture_->PeriodFrames() * format.blockAlign;
  if (!NT_SUCCESS(status) || bufferBytes == 0 || at < capture_->RunSince()) return NAN;
  const ULONG offset = static_cast<ULONG>(position.PlayOffset % bufferBytes);
  capturedBytes_ += (offset + bufferBytes - lastOffset_) % bufferBytes;
  lastOffset_ = offset;
  const double produced = static_cast<double>(at - capture_->RunSince()) * format.rate / 1e7;
  return static_cast<double>(capturedBytes_ / format.blockAlign) - produced;
}

}  // namespace tarnlink::tool
