// Feeds arbitrary configuration descriptors to the audio model: Initialize and Configure
// against a simulated device answering with them, then the format queries and a format
// selection, which read the descriptors the model kept. AddressSanitizer and
// UndefinedBehaviorSanitizer catch any read outside the configuration copy; the machine's own
// checks catch hangs (a deadlock report) and leaks of pool or handles.
#include <cstdio>
#include <cstdlib>

#include "configuration_input.h"
#include "model_probe.h"

namespace {

void ExerciseFormats(CUSBAudioCL& model) {
  for (ULONG direction = 0; direction < 2; ++direction) {
    ULONG channels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    model.GetFormatLimits(direction, &channels, &minBits, &maxBits, &minRate, &maxRate);
    ULONG bits = 0, maxBytes = 0;
    model.GetMaxFormat(direction, 1, 48000, &channels, &bits);
    model.IsRateSupported(48000);
    if (!NT_SUCCESS(model.SelectStreamingFormat(direction, 1, 2, 24, 48000, 1, &channels, &bits,
                                                &maxBytes))) {
      continue;
    }
    model.SelectStreamingFormat(direction, 1, 0, 0, 0, 1, &channels, &bits, &maxBytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarnlink::fuzz::ConfigurationInput input = tarnlink::fuzz::DecodeConfigurationInput({data, size});
  if (input.device == nullptr) return 0;
  std::string failure;
  // Bound whole: the configuration reaches the driver exactly as the fuzzer wrote it.
  const bool ran = tarnlink::fuzz::ProbeDevice(
      std::move(input.device), input.speed, sim::machine::Binding::Whole,
      [](CUSBAudioCL& model, const tarnlink::fuzz::ProbeStatus& status) {
        if (NT_SUCCESS(status.configure)) ExerciseFormats(model);
      },
      &failure);
  if (!ran) {
    std::fprintf(stderr, "the machine stopped:\n%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
