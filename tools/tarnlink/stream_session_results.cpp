// What arrived at each end of a run, checked: the device's playback against the signal or file
// the engine sent, the capture pin against the way its signal took, and --out.
#include <algorithm>

#include "stream_session_run.h"

namespace tarnlink::tool {

using sim::audioengine::CapturePath;
using sim::audioengine::SeenLayout;

void Summarise(const std::vector<sim::devices::Continuity>& channels, uint64_t framesSent,
               DirectionResult* result) {
  result->framesSent = framesSent;
  result->bitExact = !channels.empty();
  for (const sim::devices::Continuity& seen : channels) {
    result->gaps += seen.gaps;
    result->repeats += seen.repeats;
    if (!seen.Clean()) {
      result->bitExact = false;
      const uint64_t at = seen.firstBreak < 0 ? 0 : static_cast<uint64_t>(seen.firstBreak) -
                                                        seen.leadingSilence;
      if (!result->firstMismatchFrame || at < *result->firstMismatchFrame)
        result->firstMismatchFrame = at;
    }
  }
  result->framesReceived = channels.empty() ? 0 : channels[0].frames;
  if (result->framesReceived == 0) result->bitExact = false;
}

std::optional<CapturePath> StreamSession::CapturedPath() {
  if (device_ == nullptr) return std::nullopt;
  CUSBAudioCL& model = Adapter()->Model();
  const auto captured = device_->CurrentLayout(model.CaptureInterface()->InterfaceNumber);
  if (!captured) return std::nullopt;
  const unsigned pinBits = capture_->Format().bits;
  if (!looped_) return CapturePath{*captured, 32, pinBits};
  if (!render_) {
    // The ASIO host's signal, written in the bits both directions keep.
    const auto& segments = host_->Report().segments;
    if (segments.empty()) return std::nullopt;
    const uint8_t kept = segments.back().outputLayout.bitResolution;
    return CapturePath{{4, kept}, kept, pinBits};
  }
  // The engine's signal as the render pin carried it, cut by the converters on both ends.
  const auto played = model.PlaybackInterface() != nullptr
                          ? device_->CurrentLayout(model.PlaybackInterface()->InterfaceNumber)
                          : std::nullopt;
  const unsigned renderBits = render_->Format().bits;
  const sim::devices::SampleLayout sent = {
      4, static_cast<uint8_t>(std::min(writer_.ValidBits(), renderBits))};
  unsigned kept = std::min<unsigned>(renderBits, captured->bitResolution);
  if (played) kept = std::min<unsigned>(kept, played->bitResolution);
  return CapturePath{sent, kept, pinBits};
}

std::vector<std::vector<uint32_t>> StreamSession::Received(unsigned containerBits) const {
  std::vector<std::vector<uint32_t>> words;
  for (unsigned c = 0; c < request_.channels; ++c) {
    words.push_back(reader_.Samples(c));
    for (uint32_t& w : words.back()) w = LeftJustified(w, containerBits);
  }
  return words;
}

std::vector<std::vector<uint32_t>> StreamSession::Played(const sim::devices::PlaybackSink& sink) const {
  std::vector<std::vector<uint32_t>> words;
  for (unsigned c = 0; c < request_.channels; ++c) {
    words.push_back(sink.Samples(c));
    for (uint32_t& w : words.back()) w = LeftJustified(w, sink.Layout().subslotBytes * 8u);
  }
  return words;
}

void StreamSession::CollectDevice() {
  const auto* playback = Adapter()->Model().PlaybackInterface();
  const auto* sink = device_ != nullptr && playback != nullptr
                         ? device_->Sink(playback->InterfaceNumber)
                         : nullptr;
  if (sink == nullptr) return;
  const sim::devices::FeedbackSeen& feedback = device_->Feedback();
  if (feedback.ticksPerSecond != 0) {
    result_->feedbackRange = {feedback.Rate(feedback.lowest), feedback.Rate(feedback.highest)};
  }
  result_->fifoUnderruns = sink->Counters().underruns;
  result_->fifoOverruns = sink->Counters().overruns;
}

uint64_t StreamSession::CheckSink(const sim::devices::PlaybackSink& sink, unsigned channels,
                           sim::devices::SampleLayout seen, uint64_t framesSent,
                           DirectionResult* play) {
  std::vector<sim::devices::Continuity> checked;
  for (unsigned c = 0; c < channels; ++c) {
    std::vector<uint32_t> words = sink.Samples(c);
    // A DSD stream idles before and after; once the stream stops the transfers on their way
    // carry silence.
    if (request_.asio.dsd) {
      words.erase(words.begin(), std::find_if(words.begin(), words.end(),
                                              [](uint32_t w) { return w != kDsdIdleWord; }));
    }
    while (!words.empty() && (words.back() == 0 || (request_.asio.dsd && words.back() == kDsdIdleWord)))
      words.pop_back();
    checked.push_back(sim::devices::CheckContinuity(words, c, seen));
  }
  Summarise(checked, framesSent, play);
  return play->framesReceived > 0 ? checked[0].firstFrame : 0;
}

void StreamSession::CollectPlay(DirectionResult* play) {
  play->pinBits = render_->Format().bits;
  play->announcedGlitches = render_->Counters().glitches;
  const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
  const auto* sink = device_ != nullptr ? device_->Sink(number) : nullptr;
  if (sink == nullptr) {
    Summarise({}, writer_.Frames(), play);
    return;
  }
  // Frames of the start that never arrived, and the sent frame the first of them was.
  uint64_t missed = 0;
  uint64_t firstMissed = 0;
  if (request_.input) {
    const FileAlignment at =
        CompareWithFile(Played(*sink), *request_.input,
                        std::min<unsigned>(play->pinBits, sink->Layout().bitResolution), play);
    missed = at.missedAtStart;
    firstMissed = at.firstFileFrame - at.missedAtStart;
    play->framesSent = fileWriter_->Frames();
  } else {
    missed = CheckSink(*sink, request_.channels,
                       SeenLayout(writer_.ValidBits(), render_->Format(), sink->Layout()),
                       writer_.Frames(), play);
  }
  if (missed > 0) {
    // A start the device never received is lost audio like any gap.
    play->bitExact = false;
    play->firstMismatchFrame = firstMissed;
    if (play->signalChecked) ++play->gaps;
    result_->notes.push_back("the device's first frame was the engine's frame " +
                             std::to_string(firstMissed + missed) + ": the " +
                             std::to_string(missed) +
                             " frames before it were dropped as the stream started");
  }
}

void StreamSession::CollectRecord(DirectionResult* out) {
  DirectionResult& record = *out;
  record.pinBits = capture_->Format().bits;
  record.announcedGlitches = capture_->Counters().glitches;
  const std::optional<CapturePath> path = CapturedPath();
  // Frames from the render stream's position to the capture stream's where a frame arrives.
  std::optional<int64_t> arrival;
  if (request_.input && path) {
    const FileAlignment at = CompareWithFile(Received(record.pinBits), *request_.input,
                                             std::min(path->keptBits, record.pinBits), &record);
    if (record.framesReceived > 0) {
      arrival = static_cast<int64_t>(at.firstReceived) - static_cast<int64_t>(at.firstFileFrame);
    }
  } else {
    std::vector<sim::devices::Continuity> channels;
    uint64_t firstFrame = 0;
    for (unsigned c = 0; path && c < request_.channels; ++c) {
      channels.push_back(
          sim::audioengine::CheckCapturedSignal(reader_.Samples(c), c, *path, &firstFrame));
    }
    Summarise(channels, 0, &record);
    if (!channels.empty() && channels[0].frames > 0) {
      arrival = static_cast<int64_t>(channels[0].leadingSilence) - static_cast<int64_t>(firstFrame);
    }
  }
  // What the device's input sent, whatever it heard.
  const uint8_t number = Adapter()->Model().CaptureInterface()->InterfaceNumber;
  const auto* source = device_ != nullptr ? device_->Source(number) : nullptr;
  record.framesSent = source != nullptr ? source->FramesSent() : 0;
  if (render_ && looped_ && arrival) {
    // Both positions count from their own RUN; the earlier start is ahead by the difference.
    const int64_t offset = (static_cast<int64_t>(capture_->RunSince()) -
                            static_cast<int64_t>(render_->RunSince())) *
                           capture_->Format().rate / 10000000;
    result_->latencyFrames = *arrival + offset;
  }
}

void StreamSession::WriteOut() {
  if (request_.outPath.empty()) return;
  std::vector<std::vector<uint32_t>> words;
  unsigned bits = 0;
  uint32_t rate = 0;
  if (capture_) {
    // What the engine recorded, in the capture pin's container.
    bits = capture_->Format().bits;
    rate = capture_->Format().rate;
    words = Received(bits);
  } else {
    // What the device received, in its subslots.
    const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
    const auto* sink = device_ != nullptr ? device_->Sink(number) : nullptr;
    if (sink == nullptr) {
      result_->writeErrors.push_back(request_.outPath + ": the device keeps no samples to write");
      return;
    }
    bits = sink->Layout().subslotBytes * 8u;
    rate = render_->Format().rate;
    words = Played(*sink);
  }
  std::string error;
  if (!WriteWav(request_.outPath, rate, words, bits, &error)) result_->writeErrors.push_back(error);
}

}  // namespace tarnlink::tool
