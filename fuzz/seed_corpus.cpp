// fuzz_seed_corpus CONFIGURATION_DIR ANSWERS_DIR REQUESTS_DIR PROPERTIES_DIR: writes one input
// per catalogue device for the configuration descriptor target and one for the device-answers
// target, the streaming clients of the private-requests target, and the endpoint builder's and
// volume control's requests of the property-requests target.
#include <cstdio>
#include <string>
#include <vector>

#include "configuration_input.h"
#include "device_answers.h"
#include "private_requests.h"
#include "property_requests.h"
#include "sim/devices/catalogue.h"

namespace {

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const bool written = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) std::fclose(f);
  if (!written) std::fprintf(stderr, "fuzz_seed_corpus: cannot write %s\n", path.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: fuzz_seed_corpus CONFIGURATION_DIR ANSWERS_DIR REQUESTS_DIR "
                 "PROPERTIES_DIR\n");
    return 2;
  }
  const auto properties = tarnlink::fuzz::PropertyRequestSeeds();
  for (size_t i = 0; i < properties.size(); ++i) {
    if (!Write(std::string(argv[4]) + "/client" + std::to_string(i), properties[i])) return 1;
  }
  const auto requests = tarnlink::fuzz::PrivateRequestSeeds();
  for (size_t i = 0; i < requests.size(); ++i) {
    if (!Write(std::string(argv[3]) + "/client" + std::to_string(i), requests[i])) return 1;
  }
  const auto& catalogue = sim::devices::Catalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (!Write(std::string(argv[1]) + "/" + catalogue[i].name,
               tarnlink::fuzz::EncodeCatalogueDevice(i)) ||
        !Write(std::string(argv[2]) + "/" + catalogue[i].name,
               tarnlink::fuzz::EncodeDeviceAnswersSeed(i)))
      return 1;
  }
  return 0;
}
