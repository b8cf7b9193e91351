// Who may use which direction: the operating-system stream and the ASIO stream claim the
// directions they need before they open them. A DSD stream takes the whole device; on a device
// with only playback each direction has one user at a time. Claims never block: a conflict is
// STATUS_DEVICE_BUSY at once and the caller decides whether to retry.
#pragma once

#include "kernel_mode.h"

class CDirectionClaims {
 public:
  VOID Initialize(BOOLEAN playbackOnly);

  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Claim(BOOLEAN capture, BOOLEAN playback,
                                                BOOLEAN exclusive);
  _IRQL_requires_(PASSIVE_LEVEL) VOID Release(BOOLEAN capture, BOOLEAN playback);

  ULONG CaptureUsers() const { return m_CaptureUsers; }
  ULONG PlaybackUsers() const { return m_PlaybackUsers; }
  ULONG Exclusive() const { return m_Exclusive; }

 private:
  NTSTATUS Check(BOOLEAN capture, BOOLEAN playback, BOOLEAN exclusive) const;

  KMUTEX m_Mutex;
  BOOLEAN m_PlaybackOnly = FALSE;
  ULONG m_CaptureUsers = 0;
  ULONG m_PlaybackUsers = 0;
  ULONG m_Exclusive = 0;
};
