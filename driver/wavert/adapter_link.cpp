#include "adapter_link.h"

#include "rundown_guard.h"
#include "wavert_trace_points.h"

CAdapterLink::CAdapterLink() {
  KeInitializeMutex(&m_Mutex, 0);
}

VOID CAdapterLink::Lock() {
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, nullptr);
}

VOID CAdapterLink::Unlock() {
  KeReleaseMutex(&m_Mutex, FALSE);
}

VOID CAdapterLink::Register(PUSBAUDIOADAPTER adapter) {
  Lock();
  m_Adapter = adapter;
  m_Registered = TRUE;
  Unlock();
}

VOID CAdapterLink::Unregister() {
  Lock();
  m_Registered = FALSE;
  Unlock();
}

template <typename Call>
NTSTATUS CAdapterLink::Change(BOOLEAN capture, Call call, DirectionState after, BOOLEAN undoing) {
  Lock();
  // Undoing after a detach is nothing to do: the detach gave everything back.
  NTSTATUS status = undoing ? STATUS_SUCCESS : STATUS_DELETE_PENDING;
  if (m_Registered) {
    status = call(m_Adapter, DirectionOf(capture));
    if (undoing || NT_SUCCESS(status)) StateOf(capture) = after;
  }
  Unlock();
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceLinkStepFailed, static_cast<ULONG>(after), capture, status);
  return status;
}

NTSTATUS CAdapterLink::Open(BOOLEAN capture) {
  return Change(
      capture,
      [capture](PUSBAUDIOADAPTER adapter, ULONG) {
        return adapter->ClaimDirections(capture, !capture, FALSE);
      },
      DirectionState::Opened, FALSE);
}

NTSTATUS CAdapterLink::SetFormat(BOOLEAN capture, USHORT formatCode, ULONG channels, ULONG bits,
                                 ULONG rate) {
  return Change(
      capture,
      [=](PUSBAUDIOADAPTER adapter, ULONG direction) {
        return adapter->SetOsFormat(direction, formatCode, channels, bits, rate);
      },
      DirectionState::FormatSet, FALSE);
}

NTSTATUS CAdapterLink::Start(BOOLEAN capture, ULONG bufferBytes) {
  return Change(
      capture,
      [bufferBytes](PUSBAUDIOADAPTER adapter, ULONG direction) {
        return adapter->StartOsDirection(direction, bufferBytes);
      },
      DirectionState::Running, FALSE);
}

NTSTATUS CAdapterLink::Stop(BOOLEAN capture) {
  return Change(
      capture,
      [](PUSBAUDIOADAPTER adapter, ULONG direction) { return adapter->StopOsDirection(direction); },
      DirectionState::FormatSet, TRUE);
}

NTSTATUS CAdapterLink::ClearFormat(BOOLEAN capture) {
  return Change(
      capture,
      [](PUSBAUDIOADAPTER adapter, ULONG direction) { return adapter->ClearOsFormat(direction); },
      DirectionState::Opened, TRUE);
}

NTSTATUS CAdapterLink::Close(BOOLEAN capture) {
  return Change(
      capture,
      [capture](PUSBAUDIOADAPTER adapter, ULONG) {
        return adapter->ReleaseDirections(capture, !capture);
      },
      DirectionState::Closed, TRUE);
}

BOOLEAN CAdapterLink::ReopenWhileRegistered(RundownGuard& guard) {
  Lock();
  const BOOLEAN registered = m_Registered;
  if (registered) guard.Reopen();
  Unlock();
  return registered;
}

VOID CAdapterLink::TearDown(BOOLEAN capture) {
  const ULONG direction = DirectionOf(capture);
  switch (StateOf(capture)) {
    case DirectionState::Running:
      m_Adapter->StopOsDirection(direction);
      [[fallthrough]];
    case DirectionState::FormatSet:
      m_Adapter->ClearOsFormat(direction);
      [[fallthrough]];
    case DirectionState::Opened:
      m_Adapter->ReleaseDirections(capture, !capture);
      break;
    case DirectionState::Closed:
      break;
  }
  StateOf(capture) = DirectionState::Closed;
}
