// For platform code that changes host-side state under a std lock of its own (the Win32 layer).
// Every simulated thread runs on the same OS thread, so a seeded preemption inside such a
// section would let another simulated thread into the state half-changed: a std::mutex would
// deadlock the one OS thread and a recursive one would not stop it at all. While a hold is
// taken the scheduler does not preempt; only non-blocking calls may be made under it.
#pragma once

namespace tarnlink::kernel {

void HoldPreemption();
void ReleasePreemption();

}  // namespace tarnlink::kernel
