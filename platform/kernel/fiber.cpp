// Fibers over Boost.Context's context switch. The switch itself is Boost's; what is here is
// whose context is saved where, the stacks, and the sanitizer's bookkeeping around each switch.
#include "kernel/fiber.h"

#include <boost/context/detail/fcontext.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define TARNLINK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNLINK_ASAN 1
#endif
#endif

#ifdef TARNLINK_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

namespace tarnlink::kernel {

namespace ctx = boost::context::detail;

namespace {

// Deep enough for driver code under the sanitizers (which enlarge every frame); only the pages
// a thread touches are ever backed by memory.
constexpr size_t kStackBytes = size_t{2} << 20;

thread_local Fiber* t_running = nullptr;

}  // namespace

struct FiberSwitch {
  // Leaving `from` for `to`; `from` null means the running fiber ends.
  static void Leave(Fiber* from, Fiber& to) {
#ifdef TARNLINK_ASAN
    __sanitizer_start_switch_fiber(from != nullptr ? &from->fakeStack_ : nullptr, to.stackBottom_,
                                   to.stackSize_);
#else
    (void)from;
    (void)to;
#endif
  }

  // Arrived in `self` from the fiber that the transfer names: that fiber's context is saved
  // in it, so it can be resumed later.
  static void Arrive(Fiber& self, ctx::transfer_t transfer) {
    Fiber* previous = static_cast<Fiber*>(transfer.data);
#ifdef TARNLINK_ASAN
    const void* bottom = nullptr;
    size_t size = 0;
    __sanitizer_finish_switch_fiber(self.fakeStack_, &bottom, &size);
    // A host thread's own stack is learnt from the first switch away from it.
    if (previous->stack_ == nullptr) {
      previous->stackBottom_ = bottom;
      previous->stackSize_ = size;
    }
#endif
    previous->context_ = transfer.fctx;
    t_running = &self;
  }

  static void Begin(ctx::transfer_t transfer) {
    Fiber& self = *t_running;
    Arrive(self, transfer);
    self.entry_(self.argument_);
    std::fputs("host kernel: a fiber's entry returned\n", stderr);
    std::abort();
  }
};

Fiber::Fiber() {
  started_ = true;
  if (t_running == nullptr) t_running = this;
}

Fiber::Fiber(Entry entry, void* argument) : entry_(entry), argument_(argument) {
  boost::context::protected_fixedsize_stack allocator(kStackBytes);
  const boost::context::stack_context stack = allocator.allocate();
  stack_ = stack.sp;
  stackBytes_ = stack.size;
  stackBottom_ = static_cast<char*>(stack.sp) - stack.size;
  stackSize_ = stack.size;
  context_ = ctx::make_fcontext(stack.sp, stack.size, &FiberSwitch::Begin);
}

Fiber::~Fiber() {
  if (t_running == this) t_running = nullptr;
  if (stack_ == nullptr) return;
#ifdef TARNLINK_ASAN
  // Frames that never returned leave their redzones poisoned; memory mapped here later must
  // not inherit them.
  __asan_unpoison_memory_region(stackBottom_, stackSize_);
#endif
  boost::context::stack_context stack;
  stack.sp = stack_;
  stack.size = stackBytes_;
  boost::context::protected_fixedsize_stack(kStackBytes).deallocate(stack);
}

Fiber* Fiber::Running() {
  return t_running;
}

void Fiber::Resume() {
  Fiber* from = t_running;
  if (from == this) return;
  started_ = true;
  t_running = this;
  FiberSwitch::Leave(from, *this);
  const ctx::transfer_t back = ctx::jump_fcontext(context_, from);
  FiberSwitch::Arrive(*from, back);
}

void Fiber::Exit(Fiber& next) {
  Fiber* self = t_running;
  self->finished_ = true;
  next.started_ = true;
  t_running = &next;
  FiberSwitch::Leave(nullptr, next);
  ctx::jump_fcontext(next.context_, self);
  std::abort();  // a finished fiber is never resumed
}

}  // namespace tarnlink::kernel
