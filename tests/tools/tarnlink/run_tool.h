// Runs the command line in-process, as a user would run `tarnlink ARGS...`.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"

namespace tarnlink::tool {

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

inline Outcome RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), "tarnlink");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  Outcome o;
  o.exit = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
  o.out = out.str();
  o.err = err.str();
  return o;
}

}  // namespace tarnlink::tool
