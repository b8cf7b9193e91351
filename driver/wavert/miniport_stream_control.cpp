// CMiniportWaveRT: the stream-control operations the stream engine calls, and the detaching of
// the miniport from the device. The engine's calls take only the direction's guard and the
// stream's own (both spin-lock based), so they may come at dispatch level.
#include "miniport_wavert.h"
#include "wavert_stream.h"

STDMETHODIMP_(VOID) CMiniportWaveRT::FillSilence(BOOLEAN Capture, PVOID Buffer, ULONG Bytes) {
  CMiniportWaveRTStream* stream = AcquireStream(Capture);
  if (stream == nullptr) return;
  stream->FillSilence(Buffer, Bytes);
  GuardOf(Capture).Release();
}

STDMETHODIMP_(VOID) CMiniportWaveRT::AdvancePosition(BOOLEAN Capture, ULONG Bytes) {
  CMiniportWaveRTStream* stream = AcquireStream(Capture);
  if (stream == nullptr) return;
  if (Bytes != 0) stream->AdvancePosition(Bytes);
  GuardOf(Capture).Release();
}

STDMETHODIMP_(BOOLEAN) CMiniportWaveRT::BeginTransfer(BOOLEAN Capture) {
  CMiniportWaveRTStream* stream = AcquireStream(Capture);
  if (stream == nullptr) return FALSE;
  if (!stream->Guard().Acquire()) {
    GuardOf(Capture).Release();
    return FALSE;
  }
  return TRUE;
}

STDMETHODIMP_(VOID) CMiniportWaveRT::EndTransfer(BOOLEAN Capture) {
  // BeginTransfer's guards keep the slot filled until here.
  Slot(Capture)->Guard().Release();
  GuardOf(Capture).Release();
}

STDMETHODIMP_(VOID) CMiniportWaveRT::TransferData(BOOLEAN Capture, ULONG Bytes) {
  CMiniportWaveRTStream* stream = AcquireStream(Capture);
  if (stream == nullptr) return;
  stream->TransferData(Bytes);
  GuardOf(Capture).Release();
}

STDMETHODIMP CMiniportWaveRT::GetStreamPosition(BOOLEAN Capture, PKSAUDIO_POSITION Position) {
  CMiniportWaveRTStream* stream = AcquireStream(Capture);
  if (stream == nullptr) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = stream->GetPosition(Position);
  GuardOf(Capture).Release();
  return status;
}

STDMETHODIMP_(VOID) CMiniportWaveRT::DetachAll() {
  m_Link.Unregister();
  // Render first, then capture. The streams stay open for their clients but hold nothing of
  // the device any more; their own teardown later finds the link unregistered.
  const BOOLEAN order[] = {FALSE, TRUE};
  for (BOOLEAN capture : order) {
    CloseSlot(capture);
    m_Link.TearDown(capture);
  }
}

STDMETHODIMP CMiniportWaveRT::UnregisterFromDevice(PDEVICE_OBJECT DeviceObject) {
  if (m_Port == nullptr) return STATUS_INVALID_DEVICE_STATE;
  PVOID unregister = nullptr;
  NTSTATUS status = m_Port->QueryInterface(IID_IUnregisterSubdevice, &unregister);
  if (!NT_SUCCESS(status)) return status;
  auto* subdevice = static_cast<PUNREGISTERSUBDEVICE>(unregister);
  status = subdevice->UnregisterSubdevice(DeviceObject, m_Port);
  subdevice->Release();
  if (NT_SUCCESS(status)) {
    m_Port->Release();
    m_Port = nullptr;
  }
  return status;
}
