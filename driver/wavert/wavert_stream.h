// CMiniportWaveRTStream: one open render or capture pin of the wave filter. It owns the cyclic
// buffer the audio engine writes (render) or reads (capture), hands the stream engine the
// chunks of it that cover each block the engine moves, keeps the position the engine reports,
// signals the client's notification events, and steps the direction through open, format, start
// and stop by way of the miniport's adapter link.
#pragma once

#include "kernel_mode.h"
#include "position_notifier.h"
#include "rundown_guard.h"
#include "unknown_base.h"

class CMiniportWaveRT;

class CMiniportWaveRTStream final : public IMiniportWaveRTStreamNotification,
                                    public IDrmAudioStream,
                                    public CUnknown,
                                    public INotificationSink {
 public:
  explicit CMiniportWaveRTStream(PUNKNOWN outerUnknown);
  ~CMiniportWaveRTStream() override;

  STDMETHODIMP QueryInterface(REFIID interfaceId, PVOID* object) override {
    return m_OuterUnknown->QueryInterface(interfaceId, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return m_OuterUnknown->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return m_OuterUnknown->Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) override;

  // Binds the stream to its miniport and direction and sets the format on the device.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      Init(CMiniportWaveRT* miniport, PPORTWAVERTSTREAM portStream, ULONG pin, BOOLEAN capture,
           PKSDATAFORMAT dataFormat);

  // --- IMiniportWaveRTStream ----------------------------------------------------------------
  STDMETHODIMP SetFormat(PKSDATAFORMAT DataFormat) override;
  STDMETHODIMP SetState(KSSTATE State) override;
  STDMETHODIMP GetPosition(PKSAUDIO_POSITION Position) override;
  STDMETHODIMP AllocateAudioBuffer(ULONG RequestedSize, PMDL* AudioBufferMdl, ULONG* ActualSize,
                                   ULONG* OffsetFromFirstPage,
                                   MEMORY_CACHING_TYPE* CacheType) override;
  STDMETHODIMP_(VOID) FreeAudioBuffer(PMDL AudioBufferMdl, ULONG BufferSize) override;
  STDMETHODIMP_(VOID) GetHWLatency(PKSRTAUDIO_HWLATENCY HwLatency) override;
  STDMETHODIMP GetPositionRegister(PKSRTAUDIO_HWREGISTER Register) override;
  STDMETHODIMP GetClockRegister(PKSRTAUDIO_HWREGISTER Register) override;

  // --- IMiniportWaveRTStreamNotification ----------------------------------------------------
  STDMETHODIMP AllocateBufferWithNotification(ULONG NotificationCount, ULONG RequestedSize,
                                              PMDL* AudioBufferMdl, ULONG* ActualSize,
                                              ULONG* OffsetFromFirstPage,
                                              MEMORY_CACHING_TYPE* CacheType) override;
  STDMETHODIMP_(VOID) FreeBufferWithNotification(PMDL AudioBufferMdl, ULONG BufferSize) override;
  STDMETHODIMP RegisterNotificationEvent(PKEVENT NotificationEvent) override;
  STDMETHODIMP UnregisterNotificationEvent(PKEVENT NotificationEvent) override;

  // --- IDrmAudioStream ----------------------------------------------------------------------
  STDMETHODIMP SetContentId(ULONG contentId, PCDRMRIGHTS DrmRights) override;

  // --- what the miniport's stream control uses ----------------------------------------------
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID FillSilence(PVOID buffer, ULONG bytes);
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID AdvancePosition(ULONG bytes) { m_Notifier.Advance(bytes); }
  // Queues the chunks of the cyclic buffer that cover the next bytes with the adapter.
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID TransferData(ULONG bytes);
  RundownGuard& Guard() { return m_Guard; }

 private:
  VOID Notify(BufferMark mark) override;
  NTSTATUS ReadFormat(PKSDATAFORMAT dataFormat, const WAVEFORMATEX** wave, USHORT* formatCode);
  NTSTATUS StepDown();
  VOID FreeEvents();

  struct EventEntry {
    LIST_ENTRY Link;
    PKEVENT Event;
  };

  // The entry of a registered event; the event lock is held.
  EventEntry* FindEvent(PKEVENT event);

  KSSTATE m_State = KSSTATE_STOP;
  RundownGuard m_Guard;  // open only in RUN: the engine's transfers hold it
  CMiniportWaveRT* m_Miniport = nullptr;
  BOOLEAN m_Capture = FALSE;
  PUCHAR m_Buffer = nullptr;
  ULONG m_BufferSize = 0;
  BOOLEAN m_FormatSet = FALSE;
  USHORT m_FormatCode = 0;
  USHORT m_Channels = 0;
  USHORT m_BitsPerSample = 0;
  ULONG m_SampleRate = 0;
  USHORT m_BlockAlign = 0;
  ULONG m_CaptureOffset = 0;
  ULONG m_RenderOffset = 0;
  PPORTWAVERTSTREAM m_PortStream = nullptr;
  ULONG m_NotificationCount = 1;
  LIST_ENTRY m_Events;
  KSPIN_LOCK m_EventLock;
  CPositionNotifier m_Notifier;
};
