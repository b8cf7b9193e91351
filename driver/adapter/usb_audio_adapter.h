// UsbAudioAdapter: the per-device object of the driver. Device start creates it; it starts the
// USB audio function and its model, reads the device's settings, answers the framework's power
// calls and offers the miniport, the private channel and the stream engine one interface to the
// device. It lives as long as the framework, the subdevice or a private handle holds it.
//
// Interface tables, in this order within the object: IUsbAudioAdapter, the power interface,
// IAdapterDsd and the non-delegating unknown, followed by the outer unknown that the first three
// forward their QueryInterface, AddRef and Release to. The private \asio channel reaches the
// device through IAsioDevice, which is no COM interface.
#pragma once

#include "adapter_interfaces.h"
#include "asio_device.h"
#include "asio_stream.h"
#include "device_registry_key.h"
#include "rundown_guard.h"
#include "stream_engine.h"
#include "unknown_base.h"
#include "usb_audio_model.h"
#include "usb_string_descriptor.h"

class UsbAudioAdapter final : public IUsbAudioAdapter,
                              public IAdapterPowerManagement,
                              public IAdapterDsd,
                              public CUnknown,
                              public IAsioDevice {
 public:
  explicit UsbAudioAdapter(PUNKNOWN outerUnknown);
  ~UsbAudioAdapter() override;

  // A new adapter with its IUsbAudioAdapter referenced once, or the failure.
  static NTSTATUS Create(PUSBAUDIOADAPTER* adapter);

  STDMETHODIMP QueryInterface(REFIID interfaceId, PVOID* object) override {
    return m_OuterUnknown->QueryInterface(interfaceId, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return m_OuterUnknown->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return m_OuterUnknown->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) override;

  // --- IUsbAudioAdapter ---------------------------------------------------------------------
  STDMETHODIMP Init(PDEVICE_OBJECT PhysicalDeviceObject, PDEVICE_OBJECT DeviceObject) override;
  STDMETHODIMP ClaimDirections(BOOLEAN Capture, BOOLEAN Playback, BOOLEAN Exclusive) override;
  STDMETHODIMP ReleaseDirections(BOOLEAN Capture, BOOLEAN Playback) override;
  STDMETHODIMP RegisterMiniport(PMINIPORTSTREAMCONTROL Miniport) override;
  STDMETHODIMP UnregisterMiniport(PMINIPORTSTREAMCONTROL Miniport) override;
  STDMETHODIMP SetOsFormat(ULONG Direction, USHORT FormatTag, ULONG Channels, ULONG Bits,
                           ULONG Rate) override;
  STDMETHODIMP ClearOsFormat(ULONG Direction) override;
  STDMETHODIMP QueuePlaybackChunk(PVOID Address, ULONG Bytes) override;
  STDMETHODIMP QueueCaptureChunk(PVOID Address, ULONG Bytes) override;
  STDMETHODIMP FlushPlaybackChunks() override;
  STDMETHODIMP FlushCaptureChunks() override;
  STDMETHODIMP NotifyRemoval() override;
  STDMETHODIMP HandleNodeProperty(PPCPROPERTY_REQUEST Request) override;
  STDMETHODIMP HandleJackProperty(PPCPROPERTY_REQUEST Request) override;
  STDMETHODIMP GetSignalProcessingModes(ULONG Pin, GUID* Modes, PULONG Count) override;
  STDMETHODIMP GetFixedRate(PULONG Rate) override;
  STDMETHODIMP SetFixedRate(ULONG Rate) override;
  STDMETHODIMP GetRateRange(PULONG Minimum, PULONG Maximum) override;
  STDMETHODIMP GetDirectionRateRange(ULONG Direction, PULONG Minimum, PULONG Maximum) override;
  STDMETHODIMP BuildFilterDescriptor(FilterDescriptorBlock* Descriptor) override;
  STDMETHODIMP FreeFilterDescriptor(FilterDescriptorBlock* Descriptor) override;
  STDMETHODIMP StartOsDirection(ULONG Direction, ULONG BufferBytes) override;
  STDMETHODIMP StopOsDirection(ULONG Direction) override;
  STDMETHODIMP GetPipeInfo(ULONG Direction, PDRMFORWARD Record) override;

  // --- IAdapterPowerManagement --------------------------------------------------------------
  STDMETHODIMP_(void) PowerChangeState(POWER_STATE NewState) override;
  STDMETHODIMP QueryPowerChangeState(POWER_STATE NewStateQuery) override;
  STDMETHODIMP QueryDeviceCapabilities(PDEVICE_CAPABILITIES PowerDeviceCaps) override;

  // --- IAdapterDsd --------------------------------------------------------------------------
  STDMETHODIMP SetStreamKind(USHORT Kind) override;
  STDMETHODIMP_(ULONG) GetDsdNative() override;

  // --- IAsioDevice ---------------------------------------------------------------------------
  PKMUTEX ControlMutex() override { return &m_ControlMutex; }
  RundownGuard& RequestGuard() override { return m_RequestGuard; }
  volatile LONG* AsioOwnerWord() override { return &m_AsioOwner; }
  CStreamEngine& Engine() override { return m_Engine; }
  CAsioStream& AsioStream() override { return m_AsioStream; }
  CUSBAudioCL& Model() override { return m_Model; }
  const USBStringDescriptor& ProductString() const override { return m_ProductString; }
  ULONG DsdNative() const override { return m_NativeDsd; }
  NTSTATUS AsioRateRange(PULONG minimum, PULONG maximum) override {
    return GetRateRange(minimum, maximum);
  }
  NTSTATUS ChangeFixedRate(ULONG rate) override { return SetFixedRate(rate); }

  // What the adapter decided at initialisation, for diagnostics.
  BOOLEAN AmdWorkaround() const { return m_AmdWorkaround; }
  BOOLEAN PlaybackOnly() const { return m_PlaybackOnly; }
  BOOLEAN NativeDsdFromRegistry() const { return m_NativeDsdFromRegistry; }
  ULONG FixedRate() const { return m_Engine.FixedRate(); }
  ULONG AsioRate() const { return m_Engine.AsioRate(); }
  DEVICE_POWER_STATE PowerState() const { return m_PowerState; }
  BOOLEAN RemovalNoticed() { return KeReadStateEvent(&m_RemovalEvent) != 0; }

 private:
  // Init, step by step.
  VOID InitializeDirectionState();
  VOID DecideAmdWorkaround();
  NTSTATUS ReadProductString();
  NTSTATUS DecideNativeDsd();
  VOID ReadDumpCapture();
  VOID ApplyDirectionSettings();
  NTSTATUS ChooseFixedRate();
  NTSTATUS InitializeStreamObjects();
  // The lowest rate the device offers, 44100 when it cannot say.
  ULONG LowestDeviceRate();
  // A new fixed rate goes into the device's settings for the next start (under the stream mutex).
  static VOID StoreFixedRate(PVOID adapter, ULONG rate);
  VOID ForgetInDispatchContext();

  // Device and settings. Declared before the model so that the model is destroyed first and
  // the registry key last.
  PDEVICE_OBJECT m_DeviceObject = nullptr;
  PDEVICE_OBJECT m_PhysicalDeviceObject = nullptr;
  CDeviceRegistryKey m_RegistryKey;
  RundownGuard m_RequestGuard;  // private requests; closed until Init
  CUSBAudioCL m_Model;
  BOOLEAN m_AmdWorkaround = FALSE;
  USBStringDescriptor m_ProductString;
  BOOLEAN m_Initialized = FALSE;  // step 1 of Init ran: the dispatcher objects exist

  DEVICE_POWER_STATE m_PowerState = PowerDeviceD0;
  KEVENT m_RemovalEvent;  // set by the removal notice, never cleared

  // The streams: claims, formats and rates, directions, workers, engines, chunk queues.
  CStreamEngine m_Engine;
  ULONG m_NativeDsd = 0;
  BOOLEAN m_NativeDsdFromRegistry = FALSE;
  KMUTEX m_ControlMutex;
  BOOLEAN m_PlaybackOnly = FALSE;
  volatile LONG m_AsioOwner = 0;
  CAsioStream m_AsioStream;
};
