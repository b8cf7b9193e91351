// tarnlink: runs the driver package on the simulated machine.
#include <cstdio>
#include <exception>
#include <iostream>

#include "command_line.h"

int main(int argc, char** argv) {
  try {
    return tarnlink::tool::RunCommandLine(argc, argv, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarnlink: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tarnlink: internal error\n");
  }
  return tarnlink::tool::kExitFailed;
}
