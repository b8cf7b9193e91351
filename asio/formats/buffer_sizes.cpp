#include "buffer_sizes.h"

ULONG BufferSizeFrames(ULONG index, ULONG deviceRate) {
  if (index >= kBufferSizeEntries) return 0;
  const ULONG base = (index + 1) * 4;
  if (deviceRate < 44100) return base;
  if (deviceRate % 44100 == 0) return base * (deviceRate / 44100);
  if (deviceRate % 48000 == 0) return base * (deviceRate / 48000);
  return 0;
}
