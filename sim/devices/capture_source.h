// The sending end of an isochronous IN stream: frames produced at the device clock's true rate,
// each sample carrying the position signal, so packet sizes follow the device clock exactly as
// an implicit-feedback host must follow them.
#pragma once

#include <cstdint>
#include <span>

#include "sim/devices/clock_timeline.h"
#include "sim/devices/loopback_line.h"
#include "sim/devices/position_signal.h"

namespace sim::devices {

struct SourceFormat {
  uint8_t channels = 2;
  SampleLayout layout;
  // Frames a packet may be held back and sent with the next one (devices with a wide
  // packet window deliver in uneven lumps); 0 sends every frame as soon as it is complete.
  uint32_t holdbackFrames = 0;
  // With a cable plugged the input hears the device's output; otherwise it sends the signal.
  LoopbackLine* line = nullptr;
};

class CaptureSource {
 public:
  void Start(const SourceFormat& format, const ClockTimeline& clock);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }

  // Fills the packet of the service interval that ends at `nowNs` with the frames completed by
  // then; returns the bytes written. Frames of earlier intervals that the host did not poll for
  // are lost, as isochronous data belongs to its interval.
  size_t Produce(uint64_t nowNs, uint64_t intervalNs, std::span<uint8_t> packet);

  uint64_t FramesSent() const { return sent_; }
  uint64_t FramesDropped() const { return dropped_; }
  const ClockTimeline& Clock() const { return clock_; }

 private:
  SourceFormat format_;
  ClockTimeline clock_;
  bool running_ = false;
  uint64_t packets_ = 0;
  uint64_t sent_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace sim::devices
