// CStreamEngine: the device's streams between their users and the bus. It arbitrates the
// directions between the operating-system stream and the ASIO stream, opens and closes the USB
// directions (alternate setting, clock, worker thread), runs one worker per open direction that
// keeps its isochronous transfers in flight, and feeds the playback engines and capture feeds of
// both users from the completions. The adapter embeds one and serves its interface slots with it.
//
// Locks, in the only order they are taken: the adapter's control mutex, the open gate, then the
// stream mutex (the verifier checks it). The claims mutex is never held with them; the spin
// locks (contexts, counters, engines, feeds, chunk queues) are innermost.
#pragma once

#include "capture_feed.h"
#include "chunk_queues.h"
#include "continuity_check.h"
#include "direction_claims.h"
#include "driver_types.h"
#include "kernel_mode.h"
#include "open_gate.h"
#include "os_stream_sources.h"
#include "playback_engine.h"
#include "transfer_context.h"
#include "usb_audio_model.h"

// What the engine is told of its device once the device model is up.
struct EngineDevice {
  CUSBAudioCL* Model;
  PDEVICE_OBJECT DeviceObject;  // for the work items of failed completions
  PKEVENT RemovalEvent;
  BOOLEAN PlaybackOnly;
  BOOLEAN AmdWorkaround;
  ULONG NativeDsd;
};

// The two users of the streams; each has a playback engine and a capture feed.
enum class StreamUser : ULONG { Asio = 0, Os = 1 };

class CStreamEngine final : public IOsStreamHost {
 public:
  // Dispatcher objects and lists; before Start, the directions are all closed.
  VOID InitializeObjects();
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Start(const EngineDevice& device);
  // Stops every worker and gives back what the engine holds.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Shutdown();

  // --- claims, stream kind, formats and rates ------------------------------------------------
  CDirectionClaims& Claims() { return m_Claims; }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SetStreamKind(USHORT kind);
  USHORT StreamKind() const { return m_StreamKind; }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetOsFormat(ULONG direction, USHORT tag, ULONG channels, ULONG bits, ULONG rate);
  _IRQL_requires_(PASSIVE_LEVEL) VOID ClearOsFormat(ULONG direction);
  ULONG FixedRate() const { return m_FixedRate; }
  ULONG AsioRate() const { return m_AsioRate; }
  // Under the stream mutex, as the rate decisions that read it.
  _IRQL_requires_(PASSIVE_LEVEL) VOID SetAsioActive(ULONG active);
  // The ASIO client's rate in free-rate mode, taken when a direction is next configured.
  _IRQL_requires_(PASSIVE_LEVEL) VOID SetAsioRate(ULONG rate);
  VOID SetInitialFixedRate(ULONG rate) { m_FixedRate = rate; }
  // Under the stream mutex: the fixed rate changes and the free ASIO rate is dropped; the
  // device's clock is set (a failure is traced, the rate stays); then store(context, rate) keeps
  // the new rate, so that no direction opens between the switch and its record.
  _IRQL_requires_(PASSIVE_LEVEL) VOID
      ChangeFixedRate(ULONG rate, VOID (*store)(PVOID context, ULONG rate), PVOID context);
  const OsFormat& OsFormatOf(ULONG direction) const override { return m_OsFormat[direction]; }
  const UsbFormat& UsbFormatOf(ULONG direction) const { return m_UsbFormat[direction]; }

  // --- directions ------------------------------------------------------------------------------
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS OpenDirection(ULONG direction);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS CloseDirection(ULONG direction);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS StartOsDirection(ULONG direction, ULONG bufferBytes);
  _IRQL_requires_(PASSIVE_LEVEL) VOID StopOsDirection(ULONG direction);
  // The direction's zero-bandwidth setting; its USB format is forgotten.
  _IRQL_requires_(PASSIVE_LEVEL) VOID ResetDirectionFormat(ULONG direction);
  ULONG OpenCount(ULONG direction) const { return m_OpenCount[direction]; }
  // The largest transfer of an open direction, in bytes.
  ULONG MaxTransferBytes(ULONG direction) const { return m_MaxTransferBytes[direction]; }
  BOOLEAN WorkerRunning(ULONG direction) const { return m_Worker[direction] != nullptr; }

  // --- users ------------------------------------------------------------------------------------
  CPlaybackEngine& PlaybackEngineOf(StreamUser user) { return m_Engines[Value(user)]; }
  CCaptureFeed& CaptureFeedOf(StreamUser user) { return m_Feeds[Value(user)]; }
  // Starts or stops a user's engine or feed on the open directions.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS StartPlaybackEngine(StreamUser user);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS StartCaptureFeed(StreamUser user);
  CChunkQueues& Chunks() override { return m_Chunks; }

  // --- the miniport the operating-system stream moves its audio through ---------------------
  VOID RegisterMiniport(PMINIPORTSTREAMCONTROL miniport);
  VOID UnregisterMiniport(PMINIPORTSTREAMCONTROL miniport);
  BOOLEAN HasMiniport();
  PMINIPORTSTREAMCONTROL ReferenceMiniport() override;
  BOOLEAN HasCaptureInterface() const override { return m_Model->CaptureInterface() != nullptr; }

  // --- faults and what they left -----------------------------------------------------------------
  // The next playback (capture) completion is taken as failed, once.
  VOID FailNextPlayback() { InterlockedExchange(&m_FailNextPlayback, 1); }
  VOID FailNextCapture() { InterlockedExchange(&m_FailNextCapture, 1); }
  BOOLEAN DeviceGone() const { return m_DeviceGone != 0; }
  // The ASIO stream must restart: its playback lost its place on the bus.
  LONG TakeStreamInterrupted() { return InterlockedExchange(&m_StreamInterrupted, 0); }
  ULONG Recoveries(ULONG direction) const { return m_Recoveries[direction]; }
  ULONG LostTimeEvents(ULONG direction) const { return m_LostTime[direction]; }
  // Who holds the open gate: free, an opener or closer, or a worker's recovery.
  LONG OpenGateHolder() const { return m_Gate.Value(); }

 private:
  enum Kind : ULONG { kPlayback = 0, kCapture = 1, kFeedback = 2, kKindCount = 3 };

  struct DirectionEvents {
    KEVENT Stop;
    KEVENT Reset;
    KEVENT Run;
    KEVENT Running;
  };

  // Configuration and open/close (direction_configure.cpp, direction_open.cpp).
  NTSTATUS ConfigureDirection(ULONG direction);
  BOOLEAN InUseByOs(ULONG direction) const { return m_OsFormatInUse[direction]; }
  BOOLEAN BothDirections() const;
  BOOLEAN SharesClock() const;
  NTSTATUS OpenOne(ULONG direction);
  NTSTATUS OpenBoth();
  NTSTATUS CloseOne(ULONG direction);
  NTSTATUS CloseBoth();
  NTSTATUS BringUp(ULONG direction);
  PlaybackEngineStart EngineShape() const;

  // Workers (worker_threads.cpp).
  NTSTATUS StartWorker(ULONG direction);
  NTSTATUS RunWorker(ULONG direction);
  VOID StopWorker(ULONG direction);
  VOID InitializeCredits();
  BOOLEAN ExplicitFeedback() const;
  VOID CountOutstanding(Kind kind);
  VOID UncountOutstanding(Kind kind);
  ULONG QueryBusFrame();
  VOID MarkDeviceGone(NTSTATUS status);
  static BOOLEAN IsDeviceGoneStatus(NTSTATUS status);

  // Playback (playback_worker.cpp, playback_transfers.cpp, feedback_reads.cpp).
  static KSTART_ROUTINE PlaybackWorkerEntry;
  VOID PlaybackWorker();
  NTSTATUS AllocatePlaybackContexts();
  VOID FreePlaybackContexts();
  VOID FillContexts();
  VOID RecoverPlayback(Kind credit);
  VOID RestartPlaybackPipeline();
  VOID SubmitPlayback(TransferContext* completed);
  // Controller workaround (playback_ahead.cpp): a free transfer is sized, cleared and handed to
  // both engines to be written before it goes out; a completed one also tells the engines
  // what it played. Under the context list lock, in the order the transfers are submitted.
  VOID ReadyAhead(TransferContext* context);
  VOID ReadyAllAhead();
  VOID PlayedAhead(TransferContext* completed);
  VOID DeclinePlayback(TransferContext* context);
  static VOID PlaybackCompletion(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context,
                                 ULONG durationMs);
  VOID CompletePlayback(TransferContext* context);
  VOID QueueResubmit(TransferContext* context, Kind kind);
  static IO_WORKITEM_ROUTINE ResubmitWorkItem;
  VOID SubmitFeedbackRead(TransferContext* completed);
  static VOID FeedbackCompletion(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context,
                                 ULONG durationMs);
  VOID CompleteFeedbackRead(TransferContext* context, NTSTATUS status, ULONG average);
  UCHAR FillByte() const;

  // Implicit feedback (implicit_feedback.cpp).
  VOID RunImplicitStart();
  _IRQL_requires_(DISPATCH_LEVEL) VOID SizeFromCapture(ULONG bytes);
  ULONG ImplicitLength(const TransferContext* context);

  // Capture (capture_worker.cpp, capture_transfers.cpp).
  static KSTART_ROUTINE CaptureWorkerEntry;
  VOID CaptureWorker();
  VOID RecoverCapture();
  VOID SubmitCapture(TransferContext* context);
  static VOID CaptureCompletion(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context,
                                ULONG durationMs);
  static KDEFERRED_ROUTINE CaptureDpc;
  VOID DeliverCompletedCaptures();
  TransferContext* TakeContext();
  VOID FreeCaptureContext(TransferContext* context);

  EngineDevice m_Device = {};
  CUSBAudioCL* m_Model = nullptr;
  BOOLEAN m_Started = FALSE;

  // Claims, kind, formats and rates.
  CDirectionClaims m_Claims;
  USHORT m_StreamKind = kStreamKindPcm;
  KMUTEX m_StreamMutex;
  COpenGate m_Gate;
  OsFormat m_OsFormat[kDirectionCount] = {};
  BOOLEAN m_OsFormatInUse[kDirectionCount] = {};
  UsbFormat m_UsbFormat[kDirectionCount] = {};
  ULONG m_MaxTransferBytes[kDirectionCount] = {};
  ULONG m_FixedRate = 0;
  ULONG m_AsioRate = 0;
  ULONG m_AsioActive = 0;
  ULONG m_OpenCount[kDirectionCount] = {};
  // Implicit feedback: each direction's nominal bytes per transfer and how many frames a
  // transfer may run short (negative) or long; the sizing of the first playback transfers;
  // the frames capture delivered beyond its nominal periods, not yet played.
  ULONG m_ImplicitNominal[kDirectionCount] = {};
  LONG m_ImplicitNegativeSlack[kDirectionCount] = {};
  LONG m_ImplicitPositiveSlack[kDirectionCount] = {};
  KSPIN_LOCK m_ImplicitLock = 0;
  KEVENT m_SizingDone;
  BOOLEAN m_Sizing = FALSE;
  ULONG m_SizingIndex = 0;
  ULONG m_SizingCompletions = 0;
  LONG m_ImplicitFrames = 0;

  // Transfer state.
  PKTHREAD m_Worker[kDirectionCount] = {};
  DirectionEvents m_Events[kDirectionCount];
  KEVENT m_FeedbackRun;
  KEVENT m_Idle[kKindCount];
  KSEMAPHORE m_Credits[kKindCount];
  ULONG m_Outstanding[kKindCount] = {};
  KSPIN_LOCK m_OutstandingLock[kKindCount] = {};
  volatile LONG m_PlaybackInFlight = 0;
  volatile LONG m_FeedbackSeen = 0;
  CompletionContinuity m_Continuity[kDirectionCount] = {};
  ULONG m_PlaybackTransfersInFlight = 0;
  ULONG m_PlaybackTransferMs = 1;
  ULONG m_CaptureTransferMs = 1;
  LIST_ENTRY m_FreePlayback;
  KSPIN_LOCK m_ContextLock = 0;
  TransferContext* m_PlaybackContexts[kMaxPlaybackContexts] = {};
  ULONG m_PlaybackContextCount = 0;
  LIST_ENTRY m_CompletedCaptures;
  KSPIN_LOCK m_CompletedLock = 0;
  KDPC m_CaptureDpcObject;
  LOOKASIDE_LIST_EX m_ContextPool = {};
  BOOLEAN m_ContextPoolReady = FALSE;
  volatile LONG m_FailNextPlayback = 0;
  volatile LONG m_FailNextCapture = 0;
  volatile LONG m_DeviceGone = 0;
  volatile LONG m_StreamInterrupted = 0;
  ULONG m_Recoveries[kDirectionCount] = {};
  ULONG m_LostTime[kDirectionCount] = {};

  // Users.
  CPlaybackEngine m_Engines[kPlaybackEngineCount];
  CCaptureFeed m_Feeds[kPlaybackEngineCount];
  CChunkQueues m_Chunks;
  COsPlaybackSource m_OsSource;
  COsCaptureSink m_OsSink;
  PMINIPORTSTREAMCONTROL m_Miniport = nullptr;
  KSPIN_LOCK m_MiniportLock = 0;
};
