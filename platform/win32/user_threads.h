// User-mode threads, host side: starting one in a process, ending the calling one, and the
// points where a requested termination takes effect.
#pragma once

#include <functional>

#include "kernel/ke_types.h"
#include "win32/win32_state.h"

namespace tarnlink::win32 {

// Starts a machine thread that runs Body in Process (suspended until ResumeThread when asked)
// and returns its handle in the calling process; Body's result is the exit code. Null, with
// the last error, on failure.
HANDLE StartUserThread(PEPROCESS Process, std::function<DWORD()> Body, bool Suspended,
                       ULONG HandleAttributes, DWORD* ThreadId);
// Records the exit code and ends the calling thread; mutexes it owns become abandoned.
[[noreturn]] void EndCurrentThread(DWORD ExitCode);
// Ends the calling thread when another thread has asked for its termination.
void EndIfTerminated(ThreadRecord& Record);

}  // namespace tarnlink::win32
