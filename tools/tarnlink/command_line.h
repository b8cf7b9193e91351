// The command line of `tarnlink`: its commands, their options and help, and the exit codes.
#pragma once

#include <ostream>

namespace tarnlink::tool {

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the machine stopped, or the program itself failed
inline constexpr int kExitRefused = 2;  // also bad arguments and unusable input files

// Parses argv (argv[0] is the program) and runs the command it names, writing to out and err.
int RunCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace tarnlink::tool
