#include "position_notifier.h"

VOID CPositionNotifier::Init(INotificationSink* sink, ULONG size) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Sink = sink;
  m_Size = size;
  ResetLocked();
  m_Running = FALSE;
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPositionNotifier::ResetLocked() {
  m_Position = 0;
  m_LastPosition = 0;
  m_SavedPosition = 0;
}

VOID CPositionNotifier::Reset() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  ResetLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPositionNotifier::Start() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Running = TRUE;
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPositionNotifier::Stop() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Position = m_SavedPosition;
  m_Running = FALSE;
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPositionNotifier::Advance(ULONG bytes) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  if (!m_Running || m_Size == 0) {
    KeReleaseSpinLock(&m_Lock, irql);
    return;
  }
  // Wide enough that a count near 4 GiB cannot wrap the sum.
  m_Position = static_cast<ULONG>((static_cast<ULONGLONG>(m_Position) + bytes) % m_Size);
  m_SavedPosition = m_Position;
  const ULONG size = m_Size;
  const ULONG newPosition = m_Position;
  const ULONG oldPosition = m_LastPosition % m_Size;
  m_LastPosition = newPosition;
  INotificationSink* sink = m_Sink;
  KeReleaseSpinLock(&m_Lock, irql);
  // A whole buffer's advance lands where it started: neither mark is seen.
  if (oldPosition > newPosition) {
    sink->Notify(BufferMark::Wrap);
  } else if (oldPosition < size / 2 && size / 2 <= newPosition) {
    sink->Notify(BufferMark::Middle);
  }
}

ULONG CPositionNotifier::ReadPosition() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const ULONG position = m_Running ? m_Position : m_LastPosition;
  KeReleaseSpinLock(&m_Lock, irql);
  return position;
}
