#include "playback_engine.h"

#include "driver_pool.h"
#include "engine_trace_points.h"
#include "latency_target.h"

namespace {

ConverterFormat UsbSide(const UsbFormat& format, USHORT kind) {
  return {kind, format.FormatTag, format.Bits, format.Channels};
}

}  // namespace

VOID CPlaybackEngine::Initialize(ULONG index, BOOLEAN refillsFromSource) {
  KeInitializeSpinLock(&m_Lock);
  InitializeListHead(&m_Pending);
  m_Index = index;
  m_RefillsFromSource = refillsFromSource;
}

TransferContext* CPlaybackEngine::FromLink(PLIST_ENTRY link, ULONG index) {
  return reinterpret_cast<TransferContext*>(reinterpret_cast<PUCHAR>(link - index) -
                                            FIELD_OFFSET(TransferContext, EngineLinks));
}

ULONG CPlaybackEngine::LatencyTarget() const {
  LatencyInputs in = {};
  in.FrameBytes = m_Shape.Playback.FrameBytes;
  in.Rate = m_Shape.Playback.Rate;
  in.LatencyParameter = m_LatencyParameter;
  in.OverrideFrames = m_LatencyOverride;
  in.PlaybackTransfersInFlight = m_Shape.PlaybackTransfersInFlight;
  in.PlaybackTransferMs = m_Shape.PlaybackTransferMs;
  in.CaptureTransferMs = m_Shape.CaptureTransferMs;
  return LatencyTargetBytes(in);
}

ULONG CPlaybackEngine::ScratchFrames() const {
  const ULONG sourceFrameBytes = m_Source != nullptr ? m_Source->FrameBytes() : 0;
  return sourceFrameBytes != 0 ? m_ScratchBytes / sourceFrameBytes : 0;
}

VOID CPlaybackEngine::ResetPositionLocked() {
  m_WriteOffset = static_cast<LONG>(LatencyTarget());
  m_Primed = 0;
  m_Synced = 0;
}

NTSTATUS CPlaybackEngine::Start(const PlaybackEngineStart& start) {
  if (m_Source == nullptr) return STATUS_UNSUCCESSFUL;
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Shape = start;
  ResetPositionLocked();
  KeReleaseSpinLock(&m_Lock, irql);

  const ConverterFormat source = {m_Source->Kind(), m_Source->FormatTag(), m_Source->Bits(),
                                  m_Source->Channels()};
  const ConverterFormat usb = UsbSide(start.Playback, start.StreamKind);
  NTSTATUS status = SelectConverter(&m_Converter, start.Playback.FormatTag, &source, &usb);
  const BOOLEAN ownClock = !m_Source->HasCapture() || start.AmdWorkaround;
  const ULONG chunkFrames =
      ownClock ? (start.Playback.FrameBytes != 0 ? start.PlaybackMaxBytes / start.Playback.FrameBytes : 0)
               : (start.Capture.FrameBytes != 0 ? start.CaptureMaxBytes / start.Capture.FrameBytes : 0);
  if (NT_SUCCESS(status)) {
    m_ScratchBytes = chunkFrames * m_Source->FrameBytes();
    m_Scratch = m_ScratchBytes != 0 ? static_cast<PUCHAR>(AllocateDriverPool(m_ScratchBytes)) : nullptr;
    if (m_Scratch == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status) && !NT_SUCCESS(m_Source->StartClock())) status = STATUS_UNSUCCESSFUL;
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceEngineStartFailed, m_Index, status);
    Stop();
    return status;
  }
  KeAcquireSpinLock(&m_Lock, &irql);
  // With the controller workaround the played-frames notices clock every engine.
  m_CaptureClocked = m_Source->HasCapture() || start.AmdWorkaround ? 1 : 0;
  m_Started = 1;
  KeReleaseSpinLock(&m_Lock, irql);
  return STATUS_SUCCESS;
}

VOID CPlaybackEngine::Stop() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const BOOLEAN clockRunning = m_Started != 0;
  m_Started = 0;
  m_CaptureClocked = 0;
  m_Primed = 0;
  m_PrimeFrame = 0;
  m_Synced = 0;
  m_Converter = {};
  PUCHAR scratch = m_Scratch;
  m_Scratch = nullptr;
  m_ScratchBytes = 0;
  KeReleaseSpinLock(&m_Lock, irql);
  FreeDriverPool(scratch);
  if (clockRunning && m_Source != nullptr) m_Source->StopClock();
}

VOID CPlaybackEngine::AddPending(TransferContext* context) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  InsertTailList(&m_Pending, &context->EngineLinks[m_Index]);
  m_QueuedBytes += context->RequestedBytes;
  RefillLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::UnlinkLocked(TransferContext* context) {
  RemoveEntryList(&context->EngineLinks[m_Index]);
  InitializeListHead(&context->EngineLinks[m_Index]);
  m_QueuedBytes -= context->RequestedBytes;
}

VOID CPlaybackEngine::RemovePending(TransferContext* context) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  UnlinkLocked(context);
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::EmptyPending() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  while (!IsListEmpty(&m_Pending)) InitializeListHead(RemoveHeadList(&m_Pending));
  m_QueuedBytes = 0;
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::LatencyReset() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  ResetPositionLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::LockedRefill() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  RefillLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::RefillLocked() {
  if (!m_RefillsFromSource || m_Started == 0 || m_CaptureClocked == 0) return;
  const ULONG fb = m_Shape.Playback.FrameBytes;
  if (m_Synced != 0 && fb != 0) {
    CatchUpLocked(fb);
    while (m_Source->FramesAvailable() != 0 && m_WriteOffset >= 0 &&
           static_cast<ULONG>(m_WriteOffset) < m_QueuedBytes) {
      ULONG frames = (m_QueuedBytes - static_cast<ULONG>(m_WriteOffset)) / fb;
      if (frames > ScratchFrames()) frames = ScratchFrames();
      if (frames == 0) break;
      frames = m_Source->Read(m_Scratch, frames);
      if (frames == 0) break;
      DistributeLocked(frames);
      m_WriteOffset += static_cast<LONG>(frames * fb);
    }
  }
  m_Source->Serviced();
}

VOID CPlaybackEngine::CatchUpLocked(ULONG frameBytes) {
  // Transfers left before the source had their frames: those frames come too late for the
  // device and are dropped, so that the stream keeps its place in time and its next frames go
  // into the transfers still pending.
  while (m_WriteOffset < 0 && m_Source->FramesAvailable() != 0) {
    const ULONG late = static_cast<ULONG>(-static_cast<LONGLONG>(m_WriteOffset));
    const ULONG frames = m_Source->Read(nullptr, (late + frameBytes - 1) / frameBytes);
    if (frames == 0) break;
    m_WriteOffset += static_cast<LONG>(frames * frameBytes);
  }
}

VOID CPlaybackEngine::DistributeLocked(ULONG frames) {
  if (m_WriteOffset < 0 || frames == 0) return;
  const ULONG fb = m_Shape.Playback.FrameBytes;
  const ULONG sourceFrameBytes = m_Source->FrameBytes();
  ULONG position = 0;
  const PUCHAR source = m_Scratch;
  ULONG done = 0;
  for (PLIST_ENTRY link = m_Pending.Flink; link != &m_Pending && done < frames;
       link = link->Flink) {
    TransferContext* context = FromLink(link, m_Index);
    const ULONG length = context->RequestedBytes;
    const ULONG offset = static_cast<ULONG>(m_WriteOffset) + done * fb;
    if (offset >= position + length) {
      position += length;
      continue;
    }
    const ULONG inside = offset - position;
    ULONG count = (length - inside) / fb;
    if (count > frames - done) count = frames - done;
    Mix(&m_Converter, context->Buffer + inside, source + done * sourceFrameBytes, count);
    done += count;
    position += length;
  }
}

VOID CPlaybackEngine::SyncLocked(ULONG frame) {
  if (m_Synced != 0) return;
  if (frame != m_PrimeFrame && !m_Shape.AmdWorkaround) {
    const ULONG shift = m_Shape.Playback.FrameBytes *
                        ((m_Shape.Playback.Rate + 500) * m_Shape.CaptureTransferMs / 1000);
    m_WriteOffset += static_cast<LONG>(shift);
  }
  m_Synced = 1;
}

VOID CPlaybackEngine::NoticeLocked(ULONG frames, ULONG frame) {
  if (m_Started == 0 || m_CaptureClocked == 0) return;
  if (m_RefillsFromSource) {
    if (m_Primed != 0) {
      SyncLocked(frame);
    } else {
      m_Source->Read(nullptr, frames);
    }
    return;
  }
  // Until a transfer has come back the engine has nowhere to put the source's audio: reading
  // it now would throw away the start of the stream. The source waits, and its first frame is
  // the first the device plays.
  if (m_Primed != 0) {
    if (frames > ScratchFrames()) frames = ScratchFrames();
    frames = m_Source->Read(m_Scratch, frames);
    SyncLocked(frame);
    DistributeLocked(frames);
    m_WriteOffset += static_cast<LONG>(frames * m_Shape.Playback.FrameBytes);
  }
  m_Source->Serviced();
}

VOID CPlaybackEngine::CompletionNotice(ULONG bytes, ULONG frame) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const ULONG captureFrameBytes = m_Shape.Capture.FrameBytes;
  if (captureFrameBytes != 0) NoticeLocked(bytes / captureFrameBytes, frame);
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::FramesPlayed(ULONG bytes, ULONG frame) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const ULONG playbackFrameBytes = m_Shape.Playback.FrameBytes;
  if (playbackFrameBytes != 0) {
    // The first transfer played after the source started fixes where the stream begins.
    PrimeLocked(frame);
    NoticeLocked(bytes / playbackFrameBytes, frame);
  }
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::PrimeLocked(ULONG frame) {
  if (m_Started != 0 && m_CaptureClocked != 0 && m_Primed == 0 && m_Source->PlaybackStarted()) {
    m_Primed = 1;
    m_PrimeFrame = frame;
  }
}

BOOLEAN CPlaybackEngine::RetireLocked(TransferContext* context) {
  PLIST_ENTRY link = &context->EngineLinks[m_Index];
  // Not pending here: the list was emptied by a recovery meanwhile.
  if (link->Flink == link) return FALSE;
  if (m_Pending.Flink != link) TRACE_POINT(kTracePendingOutOfOrder, m_Index);
  UnlinkLocked(context);
  if (m_Primed != 0) {
    m_WriteOffset -= static_cast<LONG>(context->RequestedBytes);
    if (m_WriteOffset < 0) TRACE_POINT(kTraceWriteOffsetNegative, m_Index, m_WriteOffset);
  }
  return TRUE;
}

VOID CPlaybackEngine::RetirePending(TransferContext* context) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  RetireLocked(context);
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::TransferCompleted(TransferContext* context, ULONG, ULONG frame) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  if (RetireLocked(context)) PrimeLocked(frame);
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CPlaybackEngine::DirectWrite(TransferContext* context) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  const ULONG fb = m_Shape.Playback.FrameBytes;
  if (m_Started != 0 && m_CaptureClocked == 0 && fb != 0) {
    ULONG frames = context->RequestedBytes / fb;
    if (frames > ScratchFrames()) frames = ScratchFrames();
    frames = m_Source->Read(m_Scratch, frames);
    Mix(&m_Converter, context->Buffer, m_Scratch, frames);
    m_Source->Serviced();
  }
  KeReleaseSpinLock(&m_Lock, irql);
}
