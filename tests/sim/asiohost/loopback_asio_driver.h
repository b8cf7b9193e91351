// A small ASIO driver for the host's own tests: an in-process COM server (its five exports
// register it as the real one registers itself) whose driver object loops every output channel
// back to the input channel of the same number, one buffer later, at one buffer switch per
// millisecond. It lets the host's loading, callbacks and signal checks be proved apart from the
// real driver.
#pragma once

#include "sim/machine/machine.h"

namespace sim::asiohost::testing {

inline constexpr char16_t kLoopbackName[] = u"Loopback Test Driver";
inline constexpr LONG kLoopbackChannels = 2;
inline constexpr LONG kLoopbackBufferSize = 48;  // one millisecond at 48 kHz

// The module the machine installs.
tarnlink::win32::ModuleDefinition LoopbackModule();

// The next buffer switch of the live driver object asks its host for a reset.
void RequestLoopbackReset();
// Driver objects alive now, and created so far.
int LoopbackObjectsAlive();
int LoopbackObjectsCreated();

}  // namespace sim::asiohost::testing
