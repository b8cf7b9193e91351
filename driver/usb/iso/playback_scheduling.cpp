// CIsoTransferEngine: the playback stream's pacing state and the feedback values, and the
// pacing snapshot each playback transfer is sized and laid out from.
#include "driver_types.h"
#include "feedback_value.h"
#include "iso_trace_points.h"
#include "iso_transfer_engine.h"
#include "playback_packets.h"

namespace {

// The feedback values are shared with the completion routines at DISPATCH_LEVEL.
class FeedbackLock {
 public:
  explicit FeedbackLock(IsoStreamValues& stream) : m_Lock(&stream.FeedbackLock) {
    KeAcquireSpinLock(m_Lock, &m_Irql);
  }
  ~FeedbackLock() { KeReleaseSpinLock(m_Lock, m_Irql); }
  FeedbackLock(const FeedbackLock&) = delete;
  FeedbackLock& operator=(const FeedbackLock&) = delete;

 private:
  PKSPIN_LOCK m_Lock;
  KIRQL m_Irql = PASSIVE_LEVEL;
};

}  // namespace

BOOLEAN CIsoTransferEngine::UseRatePattern(ULONG rate) {
  const RatePatternRow* row = FindRatePatternRow(rate);
  if (row == nullptr) return FALSE;
  m_RatePatternRow = row;
  return TRUE;
}

VOID CIsoTransferEngine::ClearPlaybackFeedback() {
  IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr || stream->FeedbackPipe == nullptr) return;
  FeedbackLock lock(*stream);
  stream->FeedbackInUse = 0;
  stream->FeedbackLatest = 0;
  stream->FeedbackLastRaw = 0;
}

VOID CIsoTransferEngine::RestartPlaybackPacing(ULONG serviceInterval) {
  m_PatternPosition = 0;
  m_ServiceInterval = serviceInterval;
  const IsoStreamValues* stream = m_Streams.playback;
  if (stream != nullptr && stream->FeedbackPipe != nullptr) {
    StorePlaybackFeedback(NominalFeedback(Value(Direction::Playback)));
  }
}

ULONG CIsoTransferEngine::NominalFeedback(ULONG direction) const {
  const IsoStreamValues* stream = direction == Value(Direction::Playback)  ? m_Streams.playback
                                  : direction == Value(Direction::Capture) ? m_Streams.capture
                                                                           : nullptr;
  if (stream == nullptr) return 0;
  return ::NominalFeedback(stream->SampleRate, m_Port.IsHighSpeed(), direction, m_ServiceInterval);
}

VOID CIsoTransferEngine::StorePlaybackFeedback(ULONG feedback) {
  IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr) return;
  FeedbackLock lock(*stream);
  stream->FeedbackLatest = feedback;
}

ULONG CIsoTransferEngine::LatchPlaybackFeedback() {
  IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr) return 0;
  FeedbackLock lock(*stream);
  stream->FeedbackInUse = stream->FeedbackLatest;
  return stream->FeedbackInUse;
}

IsoStreamShape CIsoTransferEngine::PlaybackShape() const {
  const IsoStreamValues* stream = m_Streams.playback;
  return {m_Port.IsHighSpeed(), m_ServiceInterval, stream != nullptr ? stream->BytesPerFrame : 0};
}

PlaybackPacing CIsoTransferEngine::FeedbackOrPatternPacing() const {
  PlaybackPacing pacing = {};
  IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr) return pacing;
  if (stream->FeedbackPipe != nullptr) {
    pacing.mode = PlaybackPacingMode::ExplicitFeedback;
    {
      FeedbackLock lock(*stream);
      pacing.feedback = stream->FeedbackInUse;
    }
    pacing.accumulator = stream->FeedbackAccumulator;
  } else {
    pacing.mode = PlaybackPacingMode::RatePattern;
    if (m_RatePatternRow != nullptr) {
      pacing.pattern = RatePatternForSpeed(*m_RatePatternRow, m_Port.IsHighSpeed());
    }
    pacing.patternPosition = m_PatternPosition;
  }
  return pacing;
}

PlaybackPacing CIsoTransferEngine::CurrentPlaybackPacing() const {
  const IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr || !m_Streams.implicitFeedback) return FeedbackOrPatternPacing();
  PlaybackPacing pacing = {};
  pacing.mode = PlaybackPacingMode::ImplicitFeedback;
  pacing.nominalPacketBytes = static_cast<ULONG>(stream->NominalPacketBytes);
  pacing.integralRate = stream->IntegralRate;
  return pacing;
}

PlaybackPacing CIsoTransferEngine::LatchPlaybackPacing() {
  LatchPlaybackFeedback();
  return CurrentPlaybackPacing();
}

VOID CIsoTransferEngine::CommitPlaybackPacing(const PlaybackPacing& pacing) {
  IsoStreamValues* stream = m_Streams.playback;
  if (stream == nullptr) return;
  if (pacing.mode == PlaybackPacingMode::ExplicitFeedback) {
    stream->FeedbackAccumulator = pacing.accumulator;
  } else if (pacing.mode == PlaybackPacingMode::RatePattern) {
    m_PatternPosition = pacing.patternPosition;
  }
}

ULONG CIsoTransferEngine::TransferBytes(const PlaybackPacing& pacing, ULONG milliseconds) const {
  if (m_Streams.playback == nullptr) return 0;
  return PlaybackTransferBytes(PlaybackShape(), pacing, milliseconds);
}

ULONG CIsoTransferEngine::ReservePlayback(ULONG milliseconds, ULONG bytes,
                                          PlaybackPacing* snapshot) {
  *snapshot = LatchPlaybackPacing();
  if (m_Streams.playback == nullptr) return 0;
  if (bytes == 0) bytes = TransferBytes(*snapshot, milliseconds);
  if (bytes == 0) return 0;
  PlaybackPacing after = *snapshot;
  if (::BuildPlaybackPackets(PlaybackShape(), after, bytes, milliseconds, m_ReservedLayout,
                             ARRAYSIZE(m_ReservedLayout)) == 0) {
    TRACE_POINT(kTraceIsoNoLayout, bytes, milliseconds);
    return 0;
  }
  CommitPlaybackPacing(after);
  return bytes;
}

ULONG CIsoTransferEngine::GetTransferBytes(ULONG milliseconds, ULONG feedback) const {
  PlaybackPacing pacing = FeedbackOrPatternPacing();
  pacing.feedback = feedback;
  return TransferBytes(pacing, milliseconds);
}
