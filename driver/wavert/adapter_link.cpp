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

NTSTATUS CAdapterLink::Open(BOOLEAN capture) {
  Lock();
  NTSTATUS status = STATUS_DELETE_PENDING;
  if (m_Registered) {
    status = m_Adapter->ClaimDirections(capture, !capture, FALSE);
    if (NT_SUCCESS(status)) StateOf(capture) = DirectionState::Opened;
  }
  Unlock();
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceLinkStepFailed, 1u, capture, status);
  return status;
}

NTSTATUS CAdapterLink::SetFormat(BOOLEAN capture, USHORT formatCode, ULONG channels, ULONG bits,
                                 ULONG rate) {
  Lock();
  NTSTATUS status = STATUS_DELETE_PENDING;
  if (m_Registered) {
    status = m_Adapter->SetOsFormat(DirectionOf(capture), formatCode, channels, bits, rate);
    if (NT_SUCCESS(status)) StateOf(capture) = DirectionState::FormatSet;
  }
  Unlock();
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceLinkStepFailed, 2u, capture, status);
  return status;
}

NTSTATUS CAdapterLink::Start(BOOLEAN capture, ULONG bufferBytes) {
  Lock();
  NTSTATUS status = STATUS_DELETE_PENDING;
  if (m_Registered) {
    status = m_Adapter->StartOsDirection(DirectionOf(capture), bufferBytes);
    if (NT_SUCCESS(status)) StateOf(capture) = DirectionState::Running;
  }
  Unlock();
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceLinkStepFailed, 3u, capture, status);
  return status;
}

NTSTATUS CAdapterLink::Stop(BOOLEAN capture) {
  Lock();
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Registered) {
    status = m_Adapter->StopOsDirection(DirectionOf(capture));
    StateOf(capture) = DirectionState::FormatSet;
  }
  Unlock();
  return status;
}

NTSTATUS CAdapterLink::ClearFormat(BOOLEAN capture) {
  Lock();
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Registered) {
    status = m_Adapter->ClearOsFormat(DirectionOf(capture));
    StateOf(capture) = DirectionState::Opened;
  }
  Unlock();
  return status;
}

NTSTATUS CAdapterLink::Close(BOOLEAN capture) {
  Lock();
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Registered) {
    status = m_Adapter->ReleaseDirections(capture, !capture);
    StateOf(capture) = DirectionState::Closed;
  }
  Unlock();
  return status;
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
