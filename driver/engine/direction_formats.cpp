// CStreamEngine: the stream kind, the operating-system stream's formats with the rate and clock
// rules that bind them, and the fixed rate.
#include "engine_trace_points.h"
#include "sample_converter.h"
#include "stream_engine.h"

BOOLEAN CStreamEngine::BothDirections() const {
  return m_Model->PlaybackInterface() != nullptr && m_Model->CaptureInterface() != nullptr;
}

BOOLEAN CStreamEngine::SharesClock() const {
  // Audio 1.0 devices run both directions from one clock; 2.0 devices say so through their
  // terminals' clock entities.
  return BothDirections() && (!m_Model->IsUAC2() || m_Model->SharesOneClock());
}

VOID CStreamEngine::SetAsioActive(ULONG active) {
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  m_AsioActive = active;
  KeReleaseMutex(&m_StreamMutex, FALSE);
}

VOID CStreamEngine::SetAsioRate(ULONG rate) {
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  m_AsioRate = rate;
  KeReleaseMutex(&m_StreamMutex, FALSE);
}

NTSTATUS CStreamEngine::SetStreamKind(USHORT kind) {
  if (kind != kStreamKindPcm && kind != kStreamKindDsd) return STATUS_INVALID_PARAMETER;
  if (m_Device.NativeDsd == 0) return kind == kStreamKindPcm ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
  if (kind == m_Model->GetStreamKind()) {
    m_StreamKind = kind;
    return STATUS_SUCCESS;
  }
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status = STATUS_DEVICE_BUSY;
  if (m_OpenCount[kDirectionPlayback] == 0 && m_OpenCount[kDirectionCapture] == 0) {
    status = m_Model->SendStreamKind(kind);
  }
  if (NT_SUCCESS(status)) m_StreamKind = kind;
  KeReleaseMutex(&m_StreamMutex, FALSE);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceStreamKindRefused, kind, status);
  return status;
}

NTSTATUS CStreamEngine::SetOsFormat(ULONG direction, USHORT tag, ULONG channels, ULONG bits,
                                    ULONG rate) {
  if (direction >= kDirectionCount) return STATUS_INVALID_PARAMETER;
  if (KeReadStateEvent(m_Device.RemovalEvent) != 0) return STATUS_DELETE_PENDING;
  m_Chunks.Flush(direction);

  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status = STATUS_SUCCESS;
  OsFormat& format = m_OsFormat[direction];
  const BOOLEAN same = format.Channels == channels && format.Bits == bits && format.Rate == rate;
  if (!same) {
    const ULONG other = direction ^ 1;
    ConverterFormatIndex index;
    if ((BothDirections() || m_AsioActive != 0) && rate != m_FixedRate) {
      status = STATUS_NO_MATCH;
    } else if (SharesClock() && m_OsFormatInUse[other] && rate != m_OsFormat[other].Rate) {
      status = STATUS_NO_MATCH;
    } else if (!NT_SUCCESS(GetConverterFormatIndex(tag, bits, &index)) || channels == 0) {
      status = STATUS_NO_MATCH;
    } else {
      format = {tag, channels, bits, rate, channels * bits / 8};
    }
  }
  if (NT_SUCCESS(status)) {
    if (rate != m_FixedRate) m_AsioRate = rate;
    m_OsFormatInUse[direction] = TRUE;
    if (m_OpenCount[direction] == 0) {
      status = ConfigureDirection(direction);
      if (!NT_SUCCESS(status)) {
        KeReleaseMutex(&m_StreamMutex, FALSE);
        ClearOsFormat(direction);
        TRACE_POINT(kTraceOsFormatRefused, direction, rate, status);
        return status;
      }
    }
  } else {
    TRACE_POINT(kTraceOsFormatRefused, direction, rate, status);
  }
  KeReleaseMutex(&m_StreamMutex, FALSE);
  return status;
}

VOID CStreamEngine::ClearOsFormat(ULONG direction) {
  if (direction >= kDirectionCount) return;
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  m_OsFormatInUse[direction] = FALSE;
  const BOOLEAN neitherInUse = !m_OsFormatInUse[0] && !m_OsFormatInUse[1];
  if (m_Model->IsImplicitFeedbackMode()) {
    if (neitherInUse) {
      m_OsFormat[0] = {};
      m_OsFormat[1] = {};
    }
  } else {
    m_OsFormat[direction] = {};
  }
  if (neitherInUse) m_AsioRate = 0;
  if (m_OpenCount[direction] == 0) ResetDirectionFormat(direction);
  KeReleaseMutex(&m_StreamMutex, FALSE);
}

VOID CStreamEngine::ChangeFixedRate(ULONG rate, VOID (*store)(PVOID context, ULONG rate),
                                    PVOID context) {
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  m_AsioRate = 0;
  m_FixedRate = rate;
  NTSTATUS status = m_Model->SetDeviceSampleRate(rate);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceConfigureFailed, 2u, rate, status);
  store(context, rate);
  KeReleaseMutex(&m_StreamMutex, FALSE);
}
