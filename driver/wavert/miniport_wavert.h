// CMiniportWaveRT: the miniport half of the wave subdevice. It holds the filter description the
// adapter built from the device, answers data-range intersection, creates one stream per
// direction, and offers the stream engine the stream-control operations through which the
// engine moves bytes between the streams' cyclic buffers and the USB side. Everything that
// touches the device goes through the adapter's IUsbAudioAdapter.
#pragma once

#include "adapter_interfaces.h"
#include "adapter_link.h"
#include "filter_descriptor.h"
#include "kernel_mode.h"
#include "miniport_stream_control.h"
#include "rundown_guard.h"
#include "unknown_base.h"

class CMiniportWaveRTStream;

// Creates a miniport with one reference for the caller, in place of PcNewMiniport.
NTSTATUS CreateMiniportWaveRT(PUNKNOWN* Unknown, REFCLSID ClassId, PUNKNOWN UnknownOuter,
                              POOL_TYPE PoolType);

class CMiniportWaveRT final : public IMiniportStreamControl,
                              public IPowerNotify,
                              public IMiniportAudioSignalProcessing,
                              public CUnknown {
 public:
  explicit CMiniportWaveRT(PUNKNOWN outerUnknown);
  ~CMiniportWaveRT() override;

  STDMETHODIMP QueryInterface(REFIID interfaceId, PVOID* object) override {
    return m_OuterUnknown->QueryInterface(interfaceId, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return m_OuterUnknown->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return m_OuterUnknown->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) override;

  // --- IMiniportWaveRT ----------------------------------------------------------------------
  STDMETHODIMP GetDescription(PPCFILTER_DESCRIPTOR* Description) override;
  STDMETHODIMP DataRangeIntersection(ULONG PinId, PKSDATARANGE ClientDataRange,
                                     PKSDATARANGE MyDataRange, ULONG OutputBufferLength,
                                     PVOID ResultantFormat,
                                     PULONG ResultantFormatLength) override;
  STDMETHODIMP Init(PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList,
                    PPORTWAVERT Port) override;
  STDMETHODIMP NewStream(PMINIPORTWAVERTSTREAM* Stream, PPORTWAVERTSTREAM PortStream, ULONG Pin,
                         BOOLEAN Capture, PKSDATAFORMAT DataFormat) override;
  STDMETHODIMP GetDeviceDescription(PDEVICE_DESCRIPTION DeviceDescription) override;

  // --- IMiniportStreamControl ---------------------------------------------------------------
  STDMETHODIMP_(VOID) FillSilence(BOOLEAN Capture, PVOID Buffer, ULONG Bytes) override;
  STDMETHODIMP_(VOID) AdvancePosition(BOOLEAN Capture, ULONG Bytes) override;
  STDMETHODIMP_(BOOLEAN) BeginTransfer(BOOLEAN Capture) override;
  STDMETHODIMP_(VOID) EndTransfer(BOOLEAN Capture) override;
  STDMETHODIMP_(VOID) DetachAll() override;
  STDMETHODIMP_(VOID) TransferData(BOOLEAN Capture, ULONG Bytes) override;
  STDMETHODIMP UnregisterFromDevice(PDEVICE_OBJECT DeviceObject) override;
  STDMETHODIMP GetStreamPosition(BOOLEAN Capture, PKSAUDIO_POSITION Position) override;

  // --- IPowerNotify, IMiniportAudioSignalProcessing -----------------------------------------
  STDMETHODIMP_(void) PowerChangeNotify(POWER_STATE PowerState) override;
  STDMETHODIMP GetModes(ULONG Pin, GUID* SignalProcessingMode,
                        ULONG* NumSignalProcessingModes) override;

  // --- for the streams and the property handlers --------------------------------------------
  CAdapterLink& Link() { return m_Link; }
  PUSBAUDIOADAPTER Adapter() const { return m_Adapter; }
  PDRMPORT2 DrmPort() const { return m_DrmPort; }
  const FilterDescriptorBlock& Filter() const { return m_Filter; }
  ULONG PowerState() const { return m_PowerState; }
  // A stream's destruction gives its direction back: no operation holds the stream after this.
  _IRQL_requires_(PASSIVE_LEVEL) VOID CloseSlot(BOOLEAN capture);

 private:
  VOID ReleaseBindings();
  CMiniportWaveRTStream*& Slot(BOOLEAN capture) { return capture ? m_CaptureStream : m_RenderStream; }
  RundownGuard& GuardOf(BOOLEAN capture) { return capture ? m_CaptureGuard : m_RenderGuard; }
  // The direction's stream with its guard held, or null (nothing held).
  CMiniportWaveRTStream* AcquireStream(BOOLEAN capture);
  NTSTATUS MatchDeviceRange(BOOLEAN capture, ULONG channels, ULONG minBits, ULONG maxBits,
                            ULONG* minRate, ULONG* maxRate);

  PUSBAUDIOADAPTER m_Adapter = nullptr;
  PPORTWAVERT m_Port = nullptr;
  CMiniportWaveRTStream* m_CaptureStream = nullptr;
  CMiniportWaveRTStream* m_RenderStream = nullptr;
  RundownGuard m_CaptureGuard;
  RundownGuard m_RenderGuard;
  CAdapterLink m_Link;
  ULONG m_PowerState = 0;
  FilterDescriptorBlock m_Filter = {};
  ULONG m_FixedRate = 0;
  PDRMPORT2 m_DrmPort = nullptr;
};
