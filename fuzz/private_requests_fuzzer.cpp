// Private request sequences from a client process against a started device; see
// private_requests.h for the input. AddressSanitizer and UndefinedBehaviorSanitizer catch bad
// reads and writes (in the driver and in the rings it shares); the machine catches hangs,
// verifier faults, mappings left behind and leaks.
#include <cstdio>
#include <cstdlib>

#include "private_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure;
  if (!tarnlink::fuzz::RunPrivateRequests({data, size}, &failure)) {
    std::fprintf(stderr, "the machine stopped:\n%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
