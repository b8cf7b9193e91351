// UsbAudioAdapter: the framework's power calls and the stream kind.
#include "adapter_trace_points.h"
#include "transfer_settings.h"
#include "usb_audio_adapter.h"

STDMETHODIMP_(void) UsbAudioAdapter::PowerChangeState(POWER_STATE NewState) {
  const DEVICE_POWER_STATE state = NewState.DeviceState;
  if (state == m_PowerState) return;
  TRACE_POINT(kTracePowerState, static_cast<ULONG>(m_PowerState), static_cast<ULONG>(state));
  m_PowerState = state;
  // Lower states are only recorded: the device keeps what it has until it comes back. Back in
  // D0 it may have lost its settings, so both directions start again from zero bandwidth and
  // the device is told the stream kind once more.
  if (state != PowerDeviceD0) return;
  ResetDirectionFormat(kDirectionPlayback);
  ResetDirectionFormat(kDirectionCapture);
  if (m_NativeDsd != 0) {
    NTSTATUS status = m_Model.ReplayStreamKind();
    if (!NT_SUCCESS(status)) TRACE_POINT(kTraceStreamKindReplayFailed, status);
  }
}

STDMETHODIMP UsbAudioAdapter::QueryPowerChangeState(POWER_STATE) {
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::QueryDeviceCapabilities(PDEVICE_CAPABILITIES PowerDeviceCaps) {
  if (PowerDeviceCaps == nullptr) return STATUS_INVALID_PARAMETER;
  // The device may go without warning: removal is handled, no dialog is needed.
  PowerDeviceCaps->SurpriseRemovalOK = 1;
  return STATUS_SUCCESS;
}

VOID UsbAudioAdapter::ResetDirectionFormat(ULONG direction) {
  m_UsbFormat[direction] = {};
  if (m_Model.StreamInterface(direction) == nullptr) return;
  ULONG channels = 0;
  ULONG bits = 0;
  ULONG maxBytes = 0;
  const ULONG periodMs = direction == kDirectionPlayback ? g_TransferSettings.PlaybackTransferMs
                                                         : g_TransferSettings.CaptureTransferMs;
  NTSTATUS status =
      m_Model.SelectStreamingFormat(direction, 0, 0, 0, 0, periodMs, &channels, &bits, &maxBytes);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceResetFormatFailed, direction, status);
}

STDMETHODIMP UsbAudioAdapter::SetStreamKind(USHORT Kind) {
  if (Kind != kStreamKindPcm && Kind != kStreamKindDsd) return STATUS_INVALID_PARAMETER;
  if (m_NativeDsd == 0) return Kind == kStreamKindPcm ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
  if (Kind == m_Model.GetStreamKind()) {
    m_StreamKind = Kind;
    return STATUS_SUCCESS;
  }
  KeWaitForSingleObject(&m_StreamMutex, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status = STATUS_DEVICE_BUSY;
  if (m_OpenCount[kDirectionPlayback] == 0 && m_OpenCount[kDirectionCapture] == 0) {
    status = m_Model.SendStreamKind(Kind);
  }
  if (NT_SUCCESS(status)) m_StreamKind = Kind;
  KeReleaseMutex(&m_StreamMutex, FALSE);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceStreamKindRefused, Kind, status);
  return status;
}

STDMETHODIMP_(ULONG) UsbAudioAdapter::GetDsdNative() {
  return m_NativeDsd;
}
