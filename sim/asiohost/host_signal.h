// The position signal in an ASIO host's channel buffers: the host writes it into its output
// halves and checks what its input halves bring, sample by sample, in the bytes of the driver's
// sample type (a DSD buffer is taken as 32-bit words, 32 DSD samples each).
#pragma once

#include <cstdint>
#include <vector>

#include "asio_interface.h"
#include "sim/devices/position_signal.h"

namespace sim::asiohost {

// Bytes a sample of the type takes in a channel buffer and the bits the signal can use in it;
// {0, 0} for a type the host does not play.
devices::SampleLayout LayoutOfType(ASIOSampleType type);
// Samples (DSD words) of one channel's half for a buffer size in ASIO samples.
ULONG UnitsPerHalf(ASIOSampleType type, LONG bufferSize);

// Writes frames [first, first + units) of the channel's signal into a half.
void WriteSignal(void* half, ULONG units, uint64_t first, unsigned channel,
                 devices::SampleLayout layout);

// Checks one input channel's halves as they come.
class InputCheck {
 public:
  InputCheck(unsigned channel, devices::SampleLayout layout)
      : layout_(layout), checker_(channel, layout) {}
  void Take(const void* half, ULONG units);
  const devices::Continuity& Result() const { return checker_.Result(); }
  // The frame of the signal the first sample after the leading silence carried.
  uint64_t FirstFrame() const { return firstFrame_; }

 private:
  devices::SampleLayout layout_;
  devices::ContinuityChecker checker_;
  uint64_t firstFrame_ = 0;
  bool started_ = false;
};

}  // namespace sim::asiohost
