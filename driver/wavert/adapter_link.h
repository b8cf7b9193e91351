// CAdapterLink: the one path by which a miniport changes what a direction holds of the device
// (claimed, format set, started). Every change is made under one mutex and only while the
// miniport is registered, so that a device that detaches everything cannot be taken again by a
// stream that was half way through its set-up.
#pragma once

#include "adapter_interfaces.h"
#include "kernel_mode.h"

class RundownGuard;

enum class DirectionState : ULONG { Closed = 0, Opened = 1, FormatSet = 2, Running = 3 };

class CAdapterLink {
 public:
  CAdapterLink();
  CAdapterLink(const CAdapterLink&) = delete;
  CAdapterLink& operator=(const CAdapterLink&) = delete;

  // The miniport is usable from here on; the adapter pointer is not counted by the link.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Register(PUSBAUDIOADAPTER adapter);
  // Refuses every later open, format and start.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Unregister();

  // STATUS_DELETE_PENDING once unregistered; otherwise the adapter's answer.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Open(BOOLEAN capture);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetFormat(BOOLEAN capture, USHORT formatCode, ULONG channels, ULONG bits, ULONG rate);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Start(BOOLEAN capture, ULONG bufferBytes);
  // These three undo the steps above; once unregistered they do nothing (the detach did it).
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Stop(BOOLEAN capture);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ClearFormat(BOOLEAN capture);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Close(BOOLEAN capture);

  // Reopens the guard while the link is registered; FALSE (guard left shut) otherwise.
  _IRQL_requires_(PASSIVE_LEVEL) BOOLEAN ReopenWhileRegistered(RundownGuard& guard);

  // Gives back what the direction holds, by its state, and marks it closed. The caller has
  // unregistered the link, so no stream step can race it.
  _IRQL_requires_(PASSIVE_LEVEL) VOID TearDown(BOOLEAN capture);

  DirectionState State(BOOLEAN capture) const { return m_States[capture ? 1 : 0]; }

 private:
  VOID Lock();
  VOID Unlock();
  // Makes one adapter call under the mutex and records the state it leads to; a step that
  // undoes (undoing TRUE) records it whatever the adapter said.
  template <typename Call>
  NTSTATUS Change(BOOLEAN capture, Call call, DirectionState after, BOOLEAN undoing);
  DirectionState& StateOf(BOOLEAN capture) { return m_States[capture ? 1 : 0]; }
  static ULONG DirectionOf(BOOLEAN capture) { return capture ? kDirectionCapture : kDirectionPlayback; }

  KMUTEX m_Mutex;
  BOOLEAN m_Registered = FALSE;
  PUSBAUDIOADAPTER m_Adapter = nullptr;
  DirectionState m_States[2] = {DirectionState::Closed, DirectionState::Closed};
};
