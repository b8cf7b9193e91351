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

  // FALSE while closed; otherwise the caller is a user until Release.
  _IRQL_requires_max_(DISPATCH_LEVEL) _Must_inspect_result_ BOOLEAN Acquire();
  // Ends one use; the last one out wakes a waiting Close.
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID Release();
  // Refuses new users and waits until every current one has left.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Close();
  // Admits users again.
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID Reopen();

  LONG Users() const { return m_Users; }
  BOOLEAN IsClosed() const { return m_Closed; }

 private:
  KSPIN_LOCK m_Lock;
  KEVENT m_Drained;  // signalled while nobody holds the guard
  LONG m_Users = 0;
  BOOLEAN m_Closed;
};
