// Untrusted device answers through the whole adapter start and a short stream; see
// device_answers.h for the input. AddressSanitizer and UndefinedBehaviorSanitizer catch bad
// reads and writes; the machine catches hangs, verifier faults and leaks.
#include <cstdio>
#include <cstdlib>

#include "device_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure;
  if (!tarnlink::fuzz::RunDeviceAnswers({data, size}, &failure)) {
    std::fprintf(stderr, "the machine stopped:\n%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
