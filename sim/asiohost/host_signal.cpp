#include "sim/asiohost/host_signal.h"

#include <cstring>

namespace sim::asiohost {

devices::SampleLayout LayoutOfType(ASIOSampleType type) {
  switch (type) {
    case ASIOSTInt16LSB:
      return {2, 16};
    case ASIOSTInt24LSB:
      return {3, 24};
    case ASIOSTInt32LSB:
    case ASIOSTFloat32LSB:  // carried as the device's bytes
    case ASIOSTDSDInt8LSB1:
    case ASIOSTDSDInt8MSB1:
      return {4, 32};
    case ASIOSTInt32LSB16:
      return {4, 16};
    case ASIOSTInt32LSB18:
      return {4, 18};
    case ASIOSTInt32LSB20:
      return {4, 20};
    case ASIOSTInt32LSB24:
      return {4, 24};
    default:
      return {0, 0};
  }
}

ULONG UnitsPerHalf(ASIOSampleType type, LONG bufferSize) {
  const bool dsd = type == ASIOSTDSDInt8LSB1 || type == ASIOSTDSDInt8MSB1;
  return static_cast<ULONG>(dsd ? bufferSize / 32 : bufferSize);
}

void WriteSignal(void* half, ULONG units, uint64_t first, unsigned channel,
                 devices::SampleLayout layout) {
  auto* bytes = static_cast<uint8_t*>(half);
  for (ULONG u = 0; u < units; ++u) {
    const uint32_t word = devices::PositionSignal::Encode(first + u, channel, layout);
    std::memcpy(bytes + u * layout.subslotBytes, &word, layout.subslotBytes);
  }
}

void InputCheck::Take(const void* half, ULONG units) {
  const auto* bytes = static_cast<const uint8_t*>(half);
  for (ULONG u = 0; u < units; ++u) {
    uint32_t word = 0;
    std::memcpy(&word, bytes + u * layout_.subslotBytes, layout_.subslotBytes);
    if (!started_ && word != 0) {
      started_ = true;
      firstFrame_ = devices::PositionSignal::DecodeFrame(word, layout_);
    }
    checker_.Add(word);
  }
}

}  // namespace sim::asiohost
