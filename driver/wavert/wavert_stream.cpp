#include "wavert_stream.h"

#include "driver_pool.h"
#include "miniport_wavert.h"
#include "wavert_trace_points.h"

namespace {

// Where the audio engine can see the hardware's own buffering.
constexpr ULONG kFifoBytes = 32;
constexpr ULONG kCodecDelay = 4;
// The cyclic buffer lies below 4 GiB.
constexpr LONGLONG kHighestBufferAddress = 0x00000000FFFFFFFF;

USHORT FormatCodeOfSubFormat(const GUID& subFormat) {
  if (subFormat == KSDATAFORMAT_SUBTYPE_PCM) return WAVE_FORMAT_PCM;
  if (subFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) return WAVE_FORMAT_IEEE_FLOAT;
  if (subFormat == KSDATAFORMAT_SUBTYPE_ALAW) return WAVE_FORMAT_ALAW;
  if (subFormat == KSDATAFORMAT_SUBTYPE_MULAW) return WAVE_FORMAT_MULAW;
  return 0;
}

}  // namespace

CMiniportWaveRTStream::CMiniportWaveRTStream(PUNKNOWN outerUnknown) : CUnknown(outerUnknown) {
  InitializeListHead(&m_Events);
  KeInitializeSpinLock(&m_EventLock);
}

CMiniportWaveRTStream::~CMiniportWaveRTStream() {
  StepDown();
  if (m_Miniport != nullptr) {
    CAdapterLink& link = m_Miniport->Link();
    if (m_FormatSet) link.ClearFormat(m_Capture);
    m_Miniport->CloseSlot(m_Capture);
    link.Close(m_Capture);
  }
  FreeEvents();
}

STDMETHODIMP CMiniportWaveRTStream::NonDelegatingQueryInterface(REFIID interfaceId,
                                                                PVOID* object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  *object = nullptr;
  if (interfaceId == IID_IUnknown || interfaceId == IID_IMiniportWaveRTStream ||
      interfaceId == IID_IMiniportWaveRTStreamNotification) {
    *object = static_cast<IMiniportWaveRTStreamNotification*>(this);
  } else if (interfaceId == IID_IDrmAudioStream) {
    *object = static_cast<IDrmAudioStream*>(this);
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  NonDelegatingAddRef();
  return STATUS_SUCCESS;
}

NTSTATUS CMiniportWaveRTStream::ReadFormat(PKSDATAFORMAT dataFormat, const WAVEFORMATEX** wave,
                                           USHORT* formatCode) {
  // The format comes from the client's connect request: every byte read must lie inside what
  // FormatSize says the client gave.
  if (dataFormat == nullptr || dataFormat->FormatSize < sizeof(KSDATAFORMAT) ||
      dataFormat->MajorFormat != KSDATAFORMAT_TYPE_AUDIO)
    return STATUS_INVALID_DEVICE_REQUEST;
  ULONG offset = 0;
  if (dataFormat->Specifier == KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) {
    offset = sizeof(KSDATAFORMAT);
  } else if (dataFormat->Specifier == KSDATAFORMAT_SPECIFIER_DSOUND) {
    offset = sizeof(KSDATAFORMAT) + FIELD_OFFSET(KSDSOUND_BUFFERDESC, WaveFormatEx);
  } else {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  if (dataFormat->FormatSize < offset + sizeof(WAVEFORMATEX)) return STATUS_INVALID_DEVICE_REQUEST;
  const auto* format = reinterpret_cast<const WAVEFORMATEX*>(
      reinterpret_cast<const UCHAR*>(dataFormat) + offset);
  USHORT code = 0;
  switch (format->wFormatTag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      code = format->wFormatTag;
      break;
    case WAVE_FORMAT_EXTENSIBLE:
      if (format->cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) &&
          dataFormat->FormatSize >= offset + sizeof(WAVEFORMATEXTENSIBLE)) {
        code = FormatCodeOfSubFormat(
            reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format)->SubFormat);
      }
      break;
    default:
      break;
  }
  if (code == 0) return STATUS_INVALID_DEVICE_REQUEST;
  *wave = format;
  *formatCode = code;
  return STATUS_SUCCESS;
}

NTSTATUS CMiniportWaveRTStream::Init(CMiniportWaveRT* miniport, PPORTWAVERTSTREAM portStream,
                                     ULONG pin, BOOLEAN capture, PKSDATAFORMAT dataFormat) {
  UNREFERENCED_PARAMETER(pin);
  m_Guard.Close();
  m_PortStream = portStream;
  m_Miniport = miniport;
  m_Capture = capture;
  m_State = KSSTATE_STOP;
  m_Buffer = nullptr;
  m_CaptureOffset = m_RenderOffset = 0;
  const WAVEFORMATEX* format = nullptr;
  USHORT formatCode = 0;
  NTSTATUS status = ReadFormat(dataFormat, &format, &formatCode);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceStreamFormatRefused, capture);
    return status;
  }
  status = miniport->Link().SetFormat(capture, formatCode, format->nChannels,
                                      format->wBitsPerSample, format->nSamplesPerSec);
  if (!NT_SUCCESS(status)) return status;
  m_FormatCode = formatCode;
  m_FormatSet = TRUE;
  m_Channels = format->nChannels;
  m_BitsPerSample = format->wBitsPerSample;
  m_SampleRate = format->nSamplesPerSec;
  m_BlockAlign = format->nBlockAlign;
  m_Notifier.Init(this, m_BufferSize);
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRTStream::SetFormat(PKSDATAFORMAT) {
  return STATUS_NOT_SUPPORTED;
}

STDMETHODIMP CMiniportWaveRTStream::SetState(KSSTATE State) {
  if (State == m_State) return STATUS_SUCCESS;
  if (static_cast<ULONG>(m_State) > KSSTATE_RUN) {
    m_State = State;
    return STATUS_SUCCESS;
  }
  CAdapterLink& link = m_Miniport->Link();
  NTSTATUS status = STATUS_SUCCESS;
  if (m_State == KSSTATE_STOP && State == KSSTATE_ACQUIRE) {
    m_Notifier.Init(this, m_BufferSize);
    m_CaptureOffset = m_RenderOffset = 0;
  } else if (m_State == KSSTATE_ACQUIRE && State == KSSTATE_STOP) {
    m_Notifier.Init(this, m_BufferSize);
    m_CaptureOffset = m_RenderOffset = 0;
  } else if (m_State == KSSTATE_ACQUIRE && State == KSSTATE_PAUSE) {
    m_CaptureOffset = m_RenderOffset = 0;
    m_Notifier.Init(this, m_BufferSize);
    status = link.Start(m_Capture, m_BufferSize);
    if (!NT_SUCCESS(status)) return status;
  } else if (m_State == KSSTATE_PAUSE && State == KSSTATE_ACQUIRE) {
    status = link.Stop(m_Capture);
  } else if (m_State == KSSTATE_PAUSE && State == KSSTATE_RUN) {
    if (link.ReopenWhileRegistered(m_Guard)) {
      m_Notifier.Start();
    } else {
      status = STATUS_DELETE_PENDING;
    }
  } else if (m_State == KSSTATE_RUN && State == KSSTATE_PAUSE) {
    // Waits for a transfer in progress: the buffer may be freed once PAUSE is reached.
    m_Guard.Close();
    m_Notifier.Stop();
  } else {
    TRACE_POINT(kTraceStreamStateRefused, m_State, State);
    return STATUS_INVALID_PARAMETER;
  }
  m_State = State;
  return status;
}

NTSTATUS CMiniportWaveRTStream::StepDown() {
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Miniport == nullptr) return status;
  while (m_State != KSSTATE_STOP && static_cast<ULONG>(m_State) <= KSSTATE_RUN) {
    status = SetState(static_cast<KSSTATE>(m_State - 1));
  }
  return status;
}

STDMETHODIMP CMiniportWaveRTStream::GetPosition(PKSAUDIO_POSITION Position) {
  const ULONG position = m_Notifier.ReadPosition();
  Position->PlayOffset = position;
  Position->WriteOffset = position >= m_BufferSize && m_BufferSize != 0 ? position - m_BufferSize
                                                                        : position;
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRTStream::AllocateAudioBuffer(ULONG RequestedSize, PMDL* AudioBufferMdl,
                                                        ULONG* ActualSize,
                                                        ULONG* OffsetFromFirstPage,
                                                        MEMORY_CACHING_TYPE* CacheType) {
  PHYSICAL_ADDRESS highest;
  highest.QuadPart = kHighestBufferAddress;
  PMDL mdl = m_PortStream->AllocatePagesForMdl(highest, RequestedSize);
  if (mdl == nullptr) {
    TRACE_POINT(kTraceStreamBufferFailed, 1u, RequestedSize);
    return STATUS_UNSUCCESSFUL;
  }
  PVOID address = m_PortStream->MapAllocatedPages(mdl, MmCached);
  if (address == nullptr) {
    TRACE_POINT(kTraceStreamBufferFailed, 2u, RequestedSize);
    m_PortStream->FreePagesFromMdl(mdl);
    return STATUS_UNSUCCESSFUL;
  }
  m_Buffer = static_cast<PUCHAR>(address);
  m_BufferSize = RequestedSize;
  m_CaptureOffset = m_RenderOffset = 0;
  *AudioBufferMdl = mdl;
  *ActualSize = RequestedSize;
  *OffsetFromFirstPage = 0;
  *CacheType = MmCached;
  return STATUS_SUCCESS;
}

STDMETHODIMP_(VOID) CMiniportWaveRTStream::FreeAudioBuffer(PMDL AudioBufferMdl, ULONG) {
  if (AudioBufferMdl == nullptr) return;
  if (m_Buffer != nullptr) {
    m_PortStream->UnmapAllocatedPages(m_Buffer, AudioBufferMdl);
    m_Buffer = nullptr;
    m_BufferSize = 0;
    m_CaptureOffset = m_RenderOffset = 0;
  }
  m_PortStream->FreePagesFromMdl(AudioBufferMdl);
}

STDMETHODIMP_(VOID) CMiniportWaveRTStream::GetHWLatency(PKSRTAUDIO_HWLATENCY HwLatency) {
  HwLatency->FifoSize = kFifoBytes;
  HwLatency->ChipsetDelay = 0;
  HwLatency->CodecDelay = kCodecDelay;
}

STDMETHODIMP CMiniportWaveRTStream::GetPositionRegister(PKSRTAUDIO_HWREGISTER) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CMiniportWaveRTStream::GetClockRegister(PKSRTAUDIO_HWREGISTER) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CMiniportWaveRTStream::AllocateBufferWithNotification(
    ULONG NotificationCount, ULONG RequestedSize, PMDL* AudioBufferMdl, ULONG* ActualSize,
    ULONG* OffsetFromFirstPage, MEMORY_CACHING_TYPE* CacheType) {
  NTSTATUS status = AllocateAudioBuffer(RequestedSize, AudioBufferMdl, ActualSize,
                                        OffsetFromFirstPage, CacheType);
  if (NT_SUCCESS(status)) m_NotificationCount = NotificationCount;
  return status;
}

STDMETHODIMP_(VOID) CMiniportWaveRTStream::FreeBufferWithNotification(PMDL AudioBufferMdl,
                                                                      ULONG BufferSize) {
  FreeAudioBuffer(AudioBufferMdl, BufferSize);
}

STDMETHODIMP CMiniportWaveRTStream::RegisterNotificationEvent(PKEVENT NotificationEvent) {
  auto* entry = static_cast<EventEntry*>(AllocateDriverPool(sizeof(EventEntry)));
  if (entry == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  entry->Event = NotificationEvent;
  KIRQL irql;
  KeAcquireSpinLock(&m_EventLock, &irql);
  EventEntry* earlier = FindEvent(NotificationEvent);
  // Registering an event twice unregisters it: the client is confused about what it holds.
  if (earlier != nullptr) {
    RemoveEntryList(&earlier->Link);
  } else {
    InsertTailList(&m_Events, &entry->Link);
  }
  KeReleaseSpinLock(&m_EventLock, irql);
  if (earlier == nullptr) return STATUS_SUCCESS;
  FreeDriverPool(earlier);
  FreeDriverPool(entry);
  TRACE_POINT(kTraceStreamEventTwice, m_Capture);
  return STATUS_UNSUCCESSFUL;
}

STDMETHODIMP CMiniportWaveRTStream::UnregisterNotificationEvent(PKEVENT NotificationEvent) {
  KIRQL irql;
  KeAcquireSpinLock(&m_EventLock, &irql);
  EventEntry* found = FindEvent(NotificationEvent);
  if (found != nullptr) RemoveEntryList(&found->Link);
  KeReleaseSpinLock(&m_EventLock, irql);
  if (found == nullptr) return STATUS_NOT_FOUND;
  FreeDriverPool(found);
  return STATUS_SUCCESS;
}

CMiniportWaveRTStream::EventEntry* CMiniportWaveRTStream::FindEvent(PKEVENT event) {
  for (PLIST_ENTRY at = m_Events.Flink; at != &m_Events; at = at->Flink) {
    EventEntry* candidate = CONTAINING_RECORD(at, EventEntry, Link);
    if (candidate->Event == event) return candidate;
  }
  return nullptr;
}

VOID CMiniportWaveRTStream::FreeEvents() {
  while (!IsListEmpty(&m_Events))
    FreeDriverPool(CONTAINING_RECORD(RemoveHeadList(&m_Events), EventEntry, Link));
}

VOID CMiniportWaveRTStream::Notify(BufferMark mark) {
  const BOOLEAN signal = (m_NotificationCount == 1 && mark == BufferMark::Wrap) ||
                         m_NotificationCount == 2;
  if (!signal) return;
  // The list lock also keeps an event from being unregistered (and freed by its owner) while
  // it is being set.
  KIRQL irql;
  KeAcquireSpinLock(&m_EventLock, &irql);
  for (PLIST_ENTRY at = m_Events.Flink; at != &m_Events; at = at->Flink)
    KeSetEvent(CONTAINING_RECORD(at, EventEntry, Link)->Event, IO_SOUND_INCREMENT, FALSE);
  KeReleaseSpinLock(&m_EventLock, irql);
}

STDMETHODIMP CMiniportWaveRTStream::SetContentId(ULONG contentId, PCDRMRIGHTS) {
  PDRMPORT2 drm = m_Miniport->DrmPort();
  if (drm == nullptr) return STATUS_UNSUCCESSFUL;
  DRMFORWARD forward = {};
  NTSTATUS status = m_Miniport->Adapter()->GetPipeInfo(
      m_Capture ? kDirectionCapture : kDirectionPlayback, &forward);
  if (!NT_SUCCESS(status)) return status;
  return drm->ForwardContentToDeviceObject(contentId, nullptr, &forward);
}

VOID CMiniportWaveRTStream::FillSilence(PVOID buffer, ULONG bytes) {
  RtlFillMemory(buffer, bytes, m_BitsPerSample == 8 ? 0x80 : 0x00);
}

VOID CMiniportWaveRTStream::TransferData(ULONG bytes) {
  if (!m_Guard.Acquire()) return;
  const ULONG size = m_BufferSize;
  if (size != 0 && m_Buffer != nullptr) {
    if (bytes > size) bytes = size;
    ULONG& offset = m_Capture ? m_CaptureOffset : m_RenderOffset;
    const ULONG first = bytes < size - offset ? bytes : size - offset;
    PUSBAUDIOADAPTER adapter = m_Miniport->Adapter();
    auto queue = [this, adapter](PUCHAR address, ULONG length) {
      if (m_Capture) {
        adapter->QueueCaptureChunk(address, length);
      } else {
        adapter->QueuePlaybackChunk(address, length);
      }
    };
    if (first != 0) queue(m_Buffer + offset, first);
    if (bytes > first) queue(m_Buffer, bytes - first);
    offset += bytes;
    if (offset >= size) offset -= size;
  }
  m_Guard.Release();
}
