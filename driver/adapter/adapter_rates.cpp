// UsbAudioAdapter: the device-wide fixed rate and the rate ranges of the device.
#include "adapter_trace_points.h"
#include "device_settings.h"
#include "subdevice_install.h"
#include "usb_audio_adapter.h"

STDMETHODIMP UsbAudioAdapter::GetFixedRate(PULONG Rate) {
  if (Rate == nullptr) return STATUS_INVALID_PARAMETER;
  *Rate = m_Engine.FixedRate();
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::SetFixedRate(ULONG Rate) {
  if (m_PlaybackOnly) return STATUS_INVALID_DEVICE_REQUEST;
  const ULONG asioRate = m_Engine.AsioRate();
  if (Rate == m_Engine.FixedRate() && (asioRate == 0 || asioRate == Rate)) return STATUS_SUCCESS;
  if (!NT_SUCCESS(m_Model.IsRateSupported(Rate))) return STATUS_INVALID_PARAMETER;
  PMINIPORTSTREAMCONTROL miniport = m_Engine.ReferenceMiniport();
  if (miniport == nullptr) return STATUS_DEVICE_NOT_READY;
  // The operating-system streams give up the device, and the subdevice goes: its name and its
  // data ranges carry the old rate.
  miniport->DetachAll();
  miniport->UnregisterFromDevice(m_DeviceObject);
  miniport->Release();

  m_Engine.ChangeFixedRate(Rate, StoreFixedRate, this);
  TRACE_POINT(kTraceSetFixedRate, Rate);

  InstallSubdevice(m_DeviceObject, static_cast<IUsbAudioAdapter*>(this), Rate);
  return STATUS_SUCCESS;
}

VOID UsbAudioAdapter::StoreFixedRate(PVOID adapter, ULONG rate) {
  WriteDwordSetting(static_cast<UsbAudioAdapter*>(adapter)->m_RegistryKey, kSampleRateValue, rate);
}

STDMETHODIMP UsbAudioAdapter::GetRateRange(PULONG Minimum, PULONG Maximum) {
  if (Minimum == nullptr || Maximum == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG direction = kDirectionPlayback;
  if (m_Model.PlaybackInterface() == nullptr) {
    if (m_Model.CaptureInterface() == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
    direction = kDirectionCapture;
  }
  *Minimum = 0;
  *Maximum = 0xFFFFFFFF;
  return m_Model.GetRateRange(direction, Minimum, Maximum);
}

STDMETHODIMP UsbAudioAdapter::GetDirectionRateRange(ULONG Direction, PULONG Minimum,
                                                    PULONG Maximum) {
  if (Minimum == nullptr || Maximum == nullptr) return STATUS_INVALID_PARAMETER;
  return m_Model.GetRateRange(Direction, Minimum, Maximum);
}
