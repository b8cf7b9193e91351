#include "device_latency.h"

namespace {

// Frames the output path adds beyond the buffer, per frame of rate per millisecond.
constexpr double kOutputPathMs = 6.132;

}  // namespace

bool DeviceLatency(const DeviceLatencyInput& device, ULONG* input, ULONG* output) {
  const ULONG a = device.bufferFrames;
  if (device.profile == nullptr || device.inputChannels == 0) {
    *input = device.inputChannels != 0 ? a : 0;
    *output = device.outputChannels != 0
                  ? static_cast<ULONG>(device.rate / 1000.0 * kOutputPathMs + a)
                  : 0;
    return true;
  }
  const LatencyPoint* point = device.profile->LatencyAt(device.rate);
  if (point == nullptr) return false;
  *input = a + point->captureOffset + device.capturePeriodMs * device.rate / 1000;
  *output = 0;
  if (device.outputChannels == 0) return true;
  // Between the two measured buffer sizes the round trip is taken as a straight line.
  const LONGLONG roundTrip =
      (static_cast<LONGLONG>(a) - point->bufferA) *
          (static_cast<LONGLONG>(point->roundTripB) - point->roundTripA) /
          (static_cast<LONGLONG>(point->bufferB) - point->bufferA) +
      point->roundTripA;
  const LONG trip = static_cast<LONG>(roundTrip);
  const LONG rest = trip - static_cast<LONG>(*input);
  *output = rest >= 0 ? static_cast<ULONG>(rest) : 0;
  return true;
}
