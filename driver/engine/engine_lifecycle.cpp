// CStreamEngine: its objects, its start once the device model is up, and its shutdown.
#include "driver_pool.h"
#include "driver_settings.h"
#include "stream_engine.h"
#include "transfer_settings.h"

namespace {

constexpr LONG kFeedbackCredits = 8;

}  // namespace

VOID CStreamEngine::InitializeObjects() {
  KeInitializeMutex(&m_StreamMutex, 0);
  m_Gate.Initialize();
  for (ULONG direction = 0; direction < kDirectionCount; ++direction) {
    DirectionEvents& events = m_Events[direction];
    KeInitializeEvent(&events.Stop, NotificationEvent, TRUE);
    KeInitializeEvent(&events.Reset, NotificationEvent, FALSE);
    KeInitializeEvent(&events.Run, NotificationEvent, FALSE);
    KeInitializeEvent(&events.Running, NotificationEvent, FALSE);
    m_OsFormat[direction] = {};
    m_OsFormatInUse[direction] = FALSE;
    m_UsbFormat[direction] = {};
    m_OpenCount[direction] = 0;
  }
  KeInitializeEvent(&m_FeedbackRun, NotificationEvent, FALSE);
  for (ULONG kind = 0; kind < kKindCount; ++kind) {
    KeInitializeEvent(&m_Idle[kind], NotificationEvent, TRUE);
    KeInitializeSpinLock(&m_OutstandingLock[kind]);
    m_Outstanding[kind] = 0;
  }
  KeInitializeSemaphore(&m_Credits[kPlayback], 0, 1);
  KeInitializeSemaphore(&m_Credits[kCapture], 0, 1);
  KeInitializeSemaphore(&m_Credits[kFeedback], 0, kFeedbackCredits);
  KeInitializeSpinLock(&m_ContextLock);
  KeInitializeSpinLock(&m_CompletedLock);
  KeInitializeSpinLock(&m_ImplicitLock);
  KeInitializeEvent(&m_SizingDone, NotificationEvent, FALSE);
  InitializeListHead(&m_FreePlayback);
  InitializeListHead(&m_CompletedCaptures);
  KeInitializeDpc(&m_CaptureDpcObject, CaptureDpc, this);
  m_Engines[Value(StreamUser::Asio)].Initialize(Value(StreamUser::Asio), TRUE);
  m_Engines[Value(StreamUser::Os)].Initialize(Value(StreamUser::Os), FALSE);
  for (CCaptureFeed& feed : m_Feeds) feed.Initialize();
  // The operating-system stream's source and sink are wired once; the ASIO stream brings its
  // own when it prepares.
  KeInitializeSpinLock(&m_MiniportLock);
  m_Miniport = nullptr;
  m_OsSource.Initialize(this);
  m_OsSink.Initialize(this);
  m_Engines[Value(StreamUser::Os)].SetSource(&m_OsSource);
  m_Feeds[Value(StreamUser::Os)].SetTarget(&m_OsSink);
  m_FixedRate = 0;
  m_AsioRate = 0;
  m_AsioActive = 0;
  m_StreamKind = kStreamKindPcm;
}

NTSTATUS CStreamEngine::Start(const EngineDevice& device) {
  m_Device = device;
  m_Model = device.Model;
  m_Claims.Initialize(device.PlaybackOnly);
  m_PlaybackTransfersInFlight = g_TransferSettings.PlaybackTransfersInFlight;
  // The controller workaround keeps twice the transfers in flight and one more.
  const ULONG limit =
      device.AmdWorkaround ? (kMaxPlaybackContexts - 1) / 2 : kMaxPlaybackContexts;
  if (m_PlaybackTransfersInFlight > limit) m_PlaybackTransfersInFlight = limit;
  m_PlaybackTransferMs = g_TransferSettings.PlaybackTransferMs;
  m_CaptureTransferMs = g_TransferSettings.CaptureTransferMs;
  NTSTATUS status = ExInitializeLookasideListEx(&m_ContextPool, nullptr, nullptr,
                                                g_DriverSettings.LookasidePoolType, 0,
                                                sizeof(TransferContext), kDriverPoolTag, 0);
  if (!NT_SUCCESS(status)) return status;
  m_ContextPoolReady = TRUE;
  status = m_Chunks.Initialize();
  if (!NT_SUCCESS(status)) return status;
  m_Started = TRUE;
  return STATUS_SUCCESS;
}

VOID CStreamEngine::RegisterMiniport(PMINIPORTSTREAMCONTROL miniport) {
  KIRQL irql;
  KeAcquireSpinLock(&m_MiniportLock, &irql);
  m_Miniport = miniport;
  KeReleaseSpinLock(&m_MiniportLock, irql);
}

VOID CStreamEngine::UnregisterMiniport(PMINIPORTSTREAMCONTROL miniport) {
  KIRQL irql;
  KeAcquireSpinLock(&m_MiniportLock, &irql);
  if (m_Miniport == miniport) m_Miniport = nullptr;
  KeReleaseSpinLock(&m_MiniportLock, irql);
}

BOOLEAN CStreamEngine::HasMiniport() {
  KIRQL irql;
  KeAcquireSpinLock(&m_MiniportLock, &irql);
  const BOOLEAN registered = m_Miniport != nullptr;
  KeReleaseSpinLock(&m_MiniportLock, irql);
  return registered;
}

PMINIPORTSTREAMCONTROL CStreamEngine::ReferenceMiniport() {
  KIRQL irql;
  KeAcquireSpinLock(&m_MiniportLock, &irql);
  PMINIPORTSTREAMCONTROL miniport = m_Miniport;
  if (miniport != nullptr) miniport->AddRef();
  KeReleaseSpinLock(&m_MiniportLock, irql);
  return miniport;
}

VOID CStreamEngine::Shutdown() {
  if (m_Model != nullptr) {
    for (CPlaybackEngine& engine : m_Engines) engine.Stop();
    for (CCaptureFeed& feed : m_Feeds) feed.Stop();
    StopWorker(kDirectionPlayback);
    StopWorker(kDirectionCapture);
  }
  KeFlushQueuedDpcs();
  m_Chunks.Delete();
  if (m_ContextPoolReady) {
    ExDeleteLookasideListEx(&m_ContextPool);
    m_ContextPoolReady = FALSE;
  }
  m_Started = FALSE;
}
