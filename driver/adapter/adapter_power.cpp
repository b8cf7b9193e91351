// UsbAudioAdapter: the framework's power calls and the stream kind.
#include "adapter_trace_points.h"
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
  m_Engine.ResetDirectionFormat(kDirectionPlayback);
  m_Engine.ResetDirectionFormat(kDirectionCapture);
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

STDMETHODIMP UsbAudioAdapter::SetStreamKind(USHORT Kind) {
  return m_Engine.SetStreamKind(Kind);
}

STDMETHODIMP_(ULONG) UsbAudioAdapter::GetDsdNative() {
  return m_NativeDsd;
}
