// fuzz_seed_corpus DIR: writes one configuration fuzz input per catalogue device into DIR.
#include <cstdio>
#include <string>

#include "configuration_input.h"
#include "sim/devices/catalogue.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_corpus DIR\n");
    return 2;
  }
  const auto& catalogue = sim::devices::Catalogue();
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const std::vector<uint8_t> bytes = tarnlink::fuzz::EncodeCatalogueDevice(i);
    const std::string path = std::string(argv[1]) + "/" + catalogue[i].name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      std::fprintf(stderr, "fuzz_seed_corpus: cannot write %s\n", path.c_str());
      return 1;
    }
    std::fclose(f);
  }
  return 0;
}
