#include "direction_claims.h"

#include "engine_trace_points.h"

VOID CDirectionClaims::Initialize(BOOLEAN playbackOnly) {
  KeInitializeMutex(&m_Mutex, 0);
  m_PlaybackOnly = playbackOnly;
  m_CaptureUsers = 0;
  m_PlaybackUsers = 0;
  m_Exclusive = 0;
}

NTSTATUS CDirectionClaims::Check(BOOLEAN capture, BOOLEAN playback, BOOLEAN exclusive) const {
  if (m_Exclusive != 0) return STATUS_DEVICE_BUSY;
  if (exclusive && (m_CaptureUsers != 0 || m_PlaybackUsers != 0)) return STATUS_DEVICE_BUSY;
  // A device with both directions mixes its users' playback; a playback-only device cannot.
  if (m_PlaybackOnly && ((capture && m_CaptureUsers != 0) || (playback && m_PlaybackUsers != 0))) {
    return STATUS_DEVICE_BUSY;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CDirectionClaims::Claim(BOOLEAN capture, BOOLEAN playback, BOOLEAN exclusive) {
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, nullptr);
  const NTSTATUS status = Check(capture, playback, exclusive);
  if (NT_SUCCESS(status)) {
    if (capture) ++m_CaptureUsers;
    if (playback) ++m_PlaybackUsers;
    m_Exclusive = exclusive ? 1 : 0;
  } else {
    TRACE_POINT(kTraceClaimRefused, capture, playback, exclusive, m_CaptureUsers, m_PlaybackUsers,
                m_Exclusive);
  }
  KeReleaseMutex(&m_Mutex, FALSE);
  return status;
}

VOID CDirectionClaims::Release(BOOLEAN capture, BOOLEAN playback) {
  KeWaitForSingleObject(&m_Mutex, Executive, KernelMode, FALSE, nullptr);
  if (capture) {
    if (m_CaptureUsers == 0) {
      TRACE_POINT(kTraceReleaseUnclaimed, 1u);
    } else {
      --m_CaptureUsers;
    }
  }
  if (playback) {
    if (m_PlaybackUsers == 0) {
      TRACE_POINT(kTraceReleaseUnclaimed, 0u);
    } else {
      --m_PlaybackUsers;
    }
  }
  if (m_Exclusive != 0) {
    m_Exclusive = 0;
    if (m_CaptureUsers != 0 || m_PlaybackUsers != 0) {
      TRACE_POINT(kTraceExclusiveReleasedWithUsers, m_CaptureUsers, m_PlaybackUsers);
    }
  }
  KeReleaseMutex(&m_Mutex, FALSE);
}
