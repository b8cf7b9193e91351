// tarnlink: runs the driver package on the simulated machine.
#include <cstdio>
#include <cstring>

#include "info_command.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: tarnlink [--help | --version]\n"
               "       tarnlink info [--device NAME | --descriptors FILE] [--speed full|high]"
               " [--json]\n"
               "\n"
               "Runs the Tarnlink driver package on a simulated machine with simulated\n"
               "USB audio devices.\n"
               "\n"
               "commands:\n"
               "  info        how the driver models a device: class version, entities,\n"
               "              streaming interfaces, formats; --device alone lists the devices\n"
               "\n"
               "options:\n"
               "  --help      show this text\n"
               "  --version   show the version\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("tarnlink %s\n", TARNLINK_VERSION);
    return 0;
  }
  if (std::strcmp(argv[1], "info") == 0) return tarnlink::tool::RunInfo(argc - 2, argv + 2);
  std::fprintf(stderr, "tarnlink: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
