// Runs the command line in-process, as a user would run `tarnlink ARGS...`.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

// A file name in the temporary directory that no other test, and no other test process running at
// the same time, uses: the process id and the running test's name make it unique.
inline std::string ScratchPath(const std::string& ending) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return (std::filesystem::temp_directory_path() /
          ("tarnlink-" + std::to_string(::getpid()) + "-" + name + ending))
      .string();
}

}  // namespace tarnlink::tool
