// CUSBAudioCL: the playback stream's packet scheduling, from the packet values and pacing state
// that format selection stores in the model.
#include "audio_descriptors.h"
#include "feedback_value.h"
#include "playback_packets.h"
#include "usb_audio_model.h"

ULONG CUSBAudioCL::NominalFeedback(ULONG direction) const {
  const USBAudioStreamInterface* record = StreamInterface(direction);
  if (record == nullptr) return 0;
  return ::NominalFeedback(record->SampleRate, IsHighSpeed(), direction, m_ServiceInterval);
}

BOOLEAN CUSBAudioCL::IsImplicitFeedbackMode() const {
  if (m_ImplicitFeedbackPairing) return TRUE;
  const USBAudioStreamInterface* capture = m_CaptureInterface;
  if (capture == nullptr || capture->AltSettingCount < 2) return FALSE;
  const USB_ENDPOINT_DESCRIPTOR* data = capture->AltSettings[1].DataEndpoint;
  return data != nullptr &&
         (data->bmAttributes & kEndpointUsageMask) == kEndpointUsageImplicitFeedbackData;
}

IsoStreamShape CUSBAudioCL::PlaybackShape() const {
  const USBAudioStreamInterface* record = m_PlaybackInterface;
  return {IsHighSpeed(), m_ServiceInterval, record != nullptr ? record->BytesPerFrame : 0};
}

PlaybackPacing CUSBAudioCL::FeedbackOrPatternPacing() const {
  PlaybackPacing pacing = {};
  USBAudioStreamInterface* record = m_PlaybackInterface;
  if (record == nullptr) return pacing;
  if (record->FeedbackPipe != nullptr) {
    pacing.mode = PlaybackPacingMode::ExplicitFeedback;
    KIRQL irql;
    KeAcquireSpinLock(&record->FeedbackLock, &irql);
    pacing.feedback = record->FeedbackInUse;
    KeReleaseSpinLock(&record->FeedbackLock, irql);
    pacing.accumulator = record->FeedbackAccumulator;
  } else {
    pacing.mode = PlaybackPacingMode::RatePattern;
    if (m_RatePatternRow != nullptr) {
      pacing.pattern = RatePatternForSpeed(*m_RatePatternRow, IsHighSpeed());
    }
    pacing.patternPosition = m_PatternPosition;
  }
  return pacing;
}

PlaybackPacing CUSBAudioCL::CurrentPlaybackPacing() const {
  if (m_PlaybackInterface == nullptr || !IsImplicitFeedbackMode()) {
    return FeedbackOrPatternPacing();
  }
  PlaybackPacing pacing = {};
  pacing.mode = PlaybackPacingMode::ImplicitFeedback;
  pacing.nominalPacketBytes = static_cast<ULONG>(m_PlaybackInterface->NominalPacketBytes);
  pacing.integralRate = m_PlaybackInterface->IntegralRate;
  return pacing;
}

VOID CUSBAudioCL::CommitPlaybackPacing(const PlaybackPacing& pacing) {
  if (m_PlaybackInterface == nullptr) return;
  if (pacing.mode == PlaybackPacingMode::ExplicitFeedback) {
    m_PlaybackInterface->FeedbackAccumulator = pacing.accumulator;
  } else if (pacing.mode == PlaybackPacingMode::RatePattern) {
    m_PatternPosition = pacing.patternPosition;
  }
}

ULONG CUSBAudioCL::GetTransferBytes(ULONG milliseconds, ULONG feedback) const {
  if (m_PlaybackInterface == nullptr) return 0;
  return ::GetTransferBytes(PlaybackShape(), FeedbackOrPatternPacing(), milliseconds, feedback);
}

VOID CUSBAudioCL::StorePlaybackFeedback(ULONG feedback) {
  USBAudioStreamInterface* record = m_PlaybackInterface;
  if (record == nullptr) return;
  KIRQL irql;
  KeAcquireSpinLock(&record->FeedbackLock, &irql);
  record->FeedbackLatest = feedback;
  KeReleaseSpinLock(&record->FeedbackLock, irql);
}

ULONG CUSBAudioCL::LatchPlaybackFeedback() {
  USBAudioStreamInterface* record = m_PlaybackInterface;
  if (record == nullptr) return 0;
  KIRQL irql;
  KeAcquireSpinLock(&record->FeedbackLock, &irql);
  record->FeedbackInUse = record->FeedbackLatest;
  const ULONG feedback = record->FeedbackInUse;
  KeReleaseSpinLock(&record->FeedbackLock, irql);
  return feedback;
}
