// A count of users of something that can be shut: users get in only while it is open, and
// closing waits until the last user has left. The adapter guards its private requests with it,
// the miniport each direction, and each WaveRT stream its running state.
#pragma once

#include "kernel_mode.h"

class RundownGuard {
 public:
  // Closed unless the creator asks for it open.
  explicit RundownGuard(BOOLEAN open = FALSE);
  RundownGuard(const RundownGuard&) = delete;
  RundownGuard& operator=(const RundownGuard&) = delete;

  // FALSE while closed; otherwise the caller is a user until Release. Up to DISPATCH_LEVEL.
  BOOLEAN Acquire();
  // Ends one use; the last one out wakes a waiting Close. Up to DISPATCH_LEVEL.
  VOID Release();
  // Refuses new users and waits (PASSIVE_LEVEL) until every current one has left.
  VOID Close();
  // Admits users again.
  VOID Reopen();

  LONG Users() const { return users_; }
  BOOLEAN IsClosed() const { return closed_; }

 private:
  KSPIN_LOCK lock_;
  KEVENT drained_;  // signalled while nobody holds the guard
  LONG users_ = 0;
  BOOLEAN closed_;
};
