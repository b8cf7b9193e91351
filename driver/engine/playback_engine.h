// CPlaybackEngine: writes one user's playback into the USB playback transfers. The transfers the
// worker submitted wait on the engine's pending list in submission order; the write offset says
// how many bytes of them already hold this user's audio. A capture-clocked engine (its user also
// records) writes as capture completions and its source's refills allow and is kept in step with
// the bus by one sync after the first capture completion; an engine without capture writes each
// transfer whole as it is submitted. Audio is mixed into the transfer, which starts as silence,
// so two engines add up.
//
// With the controller workaround the pending list holds the transfers waiting to go out rather
// than those on the bus: each is handed to the engines as soon as it is free again, written
// ahead, and leaves the list as it is submitted. The engine is then clocked by its own
// completions, which say how many frames were played.
#pragma once

#include "driver_types.h"
#include "kernel_mode.h"
#include "sample_converter.h"
#include "stream_sources.h"
#include "transfer_context.h"

// What an engine's start needs of the open directions.
struct PlaybackEngineStart {
  UsbFormat Playback;
  UsbFormat Capture;
  ULONG PlaybackMaxBytes;  // largest playback transfer
  ULONG CaptureMaxBytes;   // largest capture transfer
  ULONG PlaybackTransfersInFlight;
  ULONG PlaybackTransferMs;
  ULONG CaptureTransferMs;
  USHORT StreamKind;
  BOOLEAN AmdWorkaround;
};

class CPlaybackEngine {
 public:
  // index: which pending link of the transfer contexts is this engine's. refillsFromSource: the
  // engine pulls from its source whenever transfers are added (the ASIO stream's ring), rather
  // than only as capture arrives.
  VOID Initialize(ULONG index, BOOLEAN refillsFromSource);
  VOID SetSource(IPlaybackSource* source) { m_Source = source; }
  IPlaybackSource* Source() const { return m_Source; }
  VOID SetLatencyParameter(ULONG parameter) { m_LatencyParameter = parameter > 100 ? 100 : parameter; }
  VOID SetLatencyOverride(ULONG frames) { m_LatencyOverride = frames; }

  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Start(const PlaybackEngineStart& start);
  _IRQL_requires_(PASSIVE_LEVEL) VOID Stop();

  BOOLEAN IsStarted() const { return m_Started != 0; }
  BOOLEAN IsCaptureClocked() const { return m_CaptureClocked != 0; }

  // --- from the transfer workers and completions (up to DISPATCH_LEVEL) ----------------------
  VOID AddPending(TransferContext* context);
  // A transfer that was added but could not be submitted leaves again.
  VOID RemovePending(TransferContext* context);
  VOID EmptyPending();
  VOID LatencyReset();
  VOID LockedRefill();
  // A capture transfer of `bytes` completed; `frame` is the bus frame its successor starts in.
  VOID CompletionNotice(ULONG bytes, ULONG frame);
  VOID TransferCompleted(TransferContext* context, ULONG bytes, ULONG frame);
  // Controller workaround: the transfer goes out and leaves the pending list.
  VOID RetirePending(TransferContext* context);
  // Controller workaround: a playback transfer of `bytes` completed; `frame` as for capture.
  VOID FramesPlayed(ULONG bytes, ULONG frame);
  // Writes a transfer about to be submitted whole (engines without capture).
  VOID DirectWrite(TransferContext* context);

  LONG WriteOffset() const { return m_WriteOffset; }
  ULONG QueuedBytes() const { return m_QueuedBytes; }
  ULONG LatencyTarget() const;

 private:
  VOID ResetPositionLocked();
  VOID RefillLocked();
  // Drops what the source holds for transfers that already left without it.
  VOID CatchUpLocked(ULONG frameBytes);
  VOID DistributeLocked(ULONG frames);
  VOID SyncLocked(ULONG frame);
  // What both kinds of completion notice do with `frames` of the source.
  VOID NoticeLocked(ULONG frames, ULONG frame);
  VOID PrimeLocked(ULONG frame);
  VOID UnlinkLocked(TransferContext* context);
  // Takes a transfer off the pending list; FALSE when it was not on it.
  BOOLEAN RetireLocked(TransferContext* context);
  ULONG ScratchFrames() const;
  static TransferContext* FromLink(PLIST_ENTRY link, ULONG index);

  KSPIN_LOCK m_Lock = 0;
  ULONG m_Index = 0;
  BOOLEAN m_RefillsFromSource = FALSE;
  IPlaybackSource* m_Source = nullptr;
  PUCHAR m_Scratch = nullptr;
  ULONG m_ScratchBytes = 0;
  LONG m_WriteOffset = 0;
  ULONG m_QueuedBytes = 0;
  PlaybackEngineStart m_Shape = {};
  LIST_ENTRY m_Pending;
  ULONG m_Started = 0;
  ULONG m_CaptureClocked = 0;
  ULONG m_Primed = 0;
  ULONG m_PrimeFrame = 0;
  ULONG m_Synced = 0;
  ULONG m_LatencyParameter = 0;
  ULONG m_LatencyOverride = 0;
  SampleConverter m_Converter = {};
};
