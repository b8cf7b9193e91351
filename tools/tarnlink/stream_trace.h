// Samples a stream run between steps of simulated time for its plot: the device FIFO's level,
// the feedback value the device last sent, and how far the capture pin's position is from what
// the device clock has produced since the pin entered RUN.
#pragma once

#include <cstdint>

#include "kernel/host_kernel.h"
#include "sim/audioengine/audio_engine.h"
#include "sim/devices/uac_device.h"
#include "sim/machine/machine.h"
#include "stream_plot.h"

namespace tarnlink::tool {

class TraceRecorder {
 public:
  // The playback interface's sink and the capture stream may be absent.
  TraceRecorder(kernel::HostKernel& kernel, sim::machine::Machine& machine,
                const sim::devices::UacDevice* device, int playbackInterface,
                sim::audioengine::EngineStream* capture)
      : kernel_(kernel),
        machine_(machine),
        device_(device),
        playbackInterface_(playbackInterface),
        capture_(capture) {}

  // False when the machine stopped while the capture position was read.
  bool Sample();
  const StreamTrace& Trace() const { return trace_; }

 private:
  double CaptureError();

  kernel::HostKernel& kernel_;
  sim::machine::Machine& machine_;
  const sim::devices::UacDevice* device_;
  int playbackInterface_;
  sim::audioengine::EngineStream* capture_;
  StreamTrace trace_;
  uint64_t startTime_ = 0;
  bool started_ = false;
  // The capture position unwrapped from the cyclic buffer.
  ULONG lastOffset_ = 0;
  uint64_t capturedBytes_ = 0;
  bool stopped_ = false;
};

}  // namespace tarnlink::tool
