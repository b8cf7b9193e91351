// CPositionNotifier: where the engine has got to in a stream's cyclic buffer, and the
// notifications due as it moves. The position moves only by the byte counts the engine reports
// (no interpolation by time); crossing the middle of the buffer or wrapping at its end tells
// the sink, which signals the client's events.
#pragma once

#include "kernel_mode.h"

enum class BufferMark : ULONG { Middle = 1, Wrap = 2 };

class INotificationSink {
 public:
  virtual VOID Notify(BufferMark mark) = 0;

 protected:
  ~INotificationSink() = default;
};

class CPositionNotifier {
 public:
  CPositionNotifier() { KeInitializeSpinLock(&m_Lock); }

  // New buffer size; the position goes back to 0 and stops.
  VOID Init(INotificationSink* sink, ULONG size);
  VOID Reset();
  VOID Start();
  // Stops advancing; the position stays where the last advance left it.
  VOID Stop();
  VOID Advance(ULONG bytes);
  // The position while running, else the one the last notification check saw.
  ULONG ReadPosition();

 private:
  VOID ResetLocked();

  INotificationSink* m_Sink = nullptr;
  ULONG m_Size = 0;
  ULONG m_Position = 0;
  ULONG m_LastPosition = 0;
  ULONG m_SavedPosition = 0;
  KSPIN_LOCK m_Lock;
  BOOLEAN m_Running = FALSE;
};
