// Fibers: stacks of execution that one host thread switches between in user space. Every
// simulated thread runs on one; only one runs at a time, so a hand-over is a register swap
// instead of an operating-system context switch. AddressSanitizer is told about every switch,
// so it keeps tracking the stack that really runs.
#pragma once

#include <cstddef>

namespace tarnlink::kernel {

class Fiber {
 public:
  using Entry = void (*)(void* argument);

  // The calling host thread's own stack, as the fiber that other fibers switch back to.
  Fiber();
  // A fiber that calls entry(argument) when first resumed. The entry never returns: it ends
  // with Exit.
  Fiber(Entry entry, void* argument);
  ~Fiber();
  Fiber(const Fiber&) = delete;
  Fiber& operator=(const Fiber&) = delete;

  // The fiber running on this host thread (null before any fiber of the thread was made).
  static Fiber* Running();
  // Suspends the running fiber and resumes this one; returns when something resumes the
  // caller again.
  void Resume();
  // Ends the running fiber for good and resumes `next`. Its stack can be freed from then on.
  [[noreturn]] static void Exit(Fiber& next);

  bool started() const { return started_; }
  bool finished() const { return finished_; }

 private:
  friend struct FiberSwitch;

  void* context_ = nullptr;  // the suspended context while this fiber is not running
  void* stack_ = nullptr;    // the stack's top; null for a host thread's own stack
  size_t stackBytes_ = 0;
  const void* stackBottom_ = nullptr;  // as the sanitizer wants it
  size_t stackSize_ = 0;
  void* fakeStack_ = nullptr;  // the sanitizer's state for this fiber while it is suspended
  Entry entry_ = nullptr;
  void* argument_ = nullptr;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace tarnlink::kernel
