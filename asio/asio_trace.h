// Numbered trace points of the user-mode deliverables: a number and integer arguments, no text.
// On the machine they go to its trace ring next to the kernel driver's; the Windows build has no
// trace session to feed yet and drops them.
#pragma once

#include "user_mode.h"

#ifdef _WIN32
template <typename... Args>
inline void AsioTrace(ULONG, Args...) {}
#else
#include "kernel/trace.h"
template <typename... Args>
inline void AsioTrace(ULONG id, Args... args) {
  TraceEmit(id, args...);
}
#endif
