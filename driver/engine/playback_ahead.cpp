// CStreamEngine: playback transfers written ahead, for host controllers that lose packets when
// both directions run short transfers (the controller workaround). The transfers that wait on
// the free list are already sized and handed to both playback engines, which write into them
// until they go out; each completion sizes its transfer again, hands it back and tells the
// engines how many frames were played, which is what clocks them.
#include "engine_trace_points.h"
#include "stream_engine.h"

VOID CStreamEngine::ReadyAhead(TransferContext* context) {
  // Sized now and submitted in this order later: the pacing moves past the transfer at once.
  // Paced by capture, the transfer's bytes are given; otherwise the pacing says them.
  const BOOLEAN implicit = m_Model->IsImplicitFeedbackMode();
  const ULONG bytes = implicit ? ImplicitLength(context) : 0;
  ULONG length = implicit && bytes == 0
                     ? 0
                     : m_Model->ReservePlayback(m_PlaybackTransferMs, bytes, &context->Pacing);
  if (length > m_MaxTransferBytes[kDirectionPlayback]) {
    // The engines must not write past the buffer; the submission of an empty transfer
    // recovers the pipeline.
    TRACE_POINT(kTraceTransferTooLong, length, m_MaxTransferBytes[kDirectionPlayback]);
    length = 0;
  }
  context->RequestedBytes = length;
  RtlFillMemory(context->Buffer, length, FillByte());
  for (CPlaybackEngine& engine : m_Engines) engine.AddPending(context);
}

VOID CStreamEngine::ReadyAllAhead() {
  KIRQL irql;
  KeAcquireSpinLock(&m_ContextLock, &irql);
  for (CPlaybackEngine& engine : m_Engines) engine.EmptyPending();
  for (PLIST_ENTRY link = m_FreePlayback.Flink; link != &m_FreePlayback; link = link->Flink) {
    ReadyAhead(CONTAINING_RECORD(link, TransferContext, FreeLink));
  }
  KeReleaseSpinLock(&m_ContextLock, irql);
}

VOID CStreamEngine::PlayedAhead(TransferContext* completed) {
  // The engines hear of the played frames first: an engine that writes whenever its source has
  // frames falls into step with the first notice and fills the transfer as it is handed back.
  for (CPlaybackEngine& engine : m_Engines) {
    engine.FramesPlayed(completed->BytesTransferred, completed->StartFrame + completed->Count);
  }
  ReadyAhead(completed);
}
