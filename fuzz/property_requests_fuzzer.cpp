// Property requests of any shape against the wave filter of a started device; see
// property_requests.h for the input. AddressSanitizer and UndefinedBehaviorSanitizer catch bad
// reads and writes, the guards around each value catch writes past it, and the machine catches
// hangs, verifier faults and leaks.
#include <cstdio>
#include <cstdlib>

#include "property_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure;
  if (!tarnlink::fuzz::RunPropertyRequests({data, size}, &failure)) {
    std::fprintf(stderr, "the property requests failed:\n%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
