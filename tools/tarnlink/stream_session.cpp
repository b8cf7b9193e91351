#include "stream_session.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "driver_pool.h"
#include "file_playback.h"
#include "stream_trace.h"
#include "kernel/pnp_host.h"
#include "sim/audioengine/audio_engine.h"
#include "sim/audioengine/pin_signal.h"
#include "sim/devices/uac_device.h"
#include "sim/machine/machine.h"
#include "usb_audio_adapter.h"

namespace tarnlink::tool {
namespace {

using sim::audioengine::CapturePath;
using sim::audioengine::EngineStream;
using sim::audioengine::SeenLayout;
using sim::devices::Continuity;

constexpr uint64_t kMs = 10000;          // 100 ns units
constexpr uint64_t kSettleMs = 500;      // before the pool count starts
constexpr ULONG kPeriodMs = 10;
constexpr uint64_t kTraceStepMs = 5;  // between two samples of a plot

// The signal's significant bits for the engine's format: a float's mantissa carries 24.
unsigned SignalBits(EngineSampleFormat format) {
  switch (format) {
    case EngineSampleFormat::Pcm16:
      return 16;
    case EngineSampleFormat::Pcm24:
      return 24;
    case EngineSampleFormat::Pcm32:
      return 32;
    case EngineSampleFormat::Float:
      return 24;
  }
  return 32;
}

// The pin widths the engine asks for: its own width, or for float the widest the device takes.
sim::audioengine::WishedFormat Wish(const StreamRequest& request, unsigned bits) {
  return {request.rate, request.channels, bits};
}

std::vector<unsigned> PinWidths(EngineSampleFormat format) {
  if (format == EngineSampleFormat::Float) return {32, 24, 16};
  return {SignalBits(format)};
}

void Summarise(const std::vector<Continuity>& channels, uint64_t framesSent,
               DirectionResult* result) {
  result->framesSent = framesSent;
  result->bitExact = !channels.empty();
  for (const Continuity& seen : channels) {
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

std::string StopReport(kernel::HostKernel& kernel, const char* otherwise) {
  const kernel::StopInfo* stop = kernel.Stop();
  return stop != nullptr ? stop->report : otherwise;
}

class Session {
 public:
  Session(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal)
      : request_(request), result_(result), refusal_(refusal) {}

  bool Run();

 private:
  bool Boot();
  bool OpenStreams();
  NTSTATUS Open(bool capture);
  void CollectPlay();
  void CollectRecord();
  // What the engine recorded, per channel, left-justified from the pin's containers.
  std::vector<std::vector<uint32_t>> Received(unsigned containerBits) const;
  // What the device received, per channel, left-justified from its subslots.
  std::vector<std::vector<uint32_t>> Played(const sim::devices::PlaybackSink& sink) const;
  // Writes --out; a failure becomes one of the result's write errors.
  void WriteOut();
  // How the signal the capture pin holds was made and cut on its way.
  std::optional<CapturePath> CapturedPath();
  bool Stopped(const char* what) {
    refusal_->machineStopped = true;
    refusal_->reason = StopReport(kernel_, what);
    return false;
  }
  bool Refused(std::string reason) {
    refusal_->reason = std::move(reason);
    return false;
  }
  UsbAudioAdapter* Adapter() {
    return static_cast<UsbAudioAdapter*>(GetDispatchContext(machine_->FunctionDevice())->Adapter);
  }

  const StreamRequest& request_;
  StreamResult* result_;
  StreamRefusal* refusal_;
  kernel::HostKernel kernel_;
  std::unique_ptr<sim::machine::Machine> machine_;
  sim::devices::UacDevice* device_ = nullptr;
  bool looped_ = false;  // the device's input hears its output
  sim::audioengine::AudioEngine engine_{kernel_};
  std::unique_ptr<EngineStream> render_;
  std::unique_ptr<EngineStream> capture_;
  sim::audioengine::SignalWriter writer_{SignalBits(request_.format)};
  std::optional<FileWriter> fileWriter_;
  sim::audioengine::SignalReader reader_;
};

bool Session::Boot() {
  if (request_.input) fileWriter_.emplace(*request_.input);
  PluggedDevice plugged;
  std::string error;
  DeviceChoice choice = request_.device;
  choice.keepSamples = true;
  // A duplex run plugs a cable from the output back to the input and hears itself.
  choice.loopback = request_.directions == StreamDirections::Duplex;
  if (!OpenDevice(choice, &plugged, &error)) return Refused(error);
  result_->notes = plugged.notes;
  device_ = dynamic_cast<sim::devices::UacDevice*>(plugged.device.get());
  looped_ = device_ != nullptr && choice.loopback;
  sim::machine::MachineOptions options;
  options.busSpeed = plugged.busSpeed;
  options.controller = request_.start.controller;
  machine_ = std::make_unique<sim::machine::Machine>(kernel_, DriverEntry, options);
  if (!NT_SUCCESS(machine_->LoadDriver())) return Stopped("the driver did not load");
  // A device in fixed-rate mode plays the operating system's stream at its fixed rate only.
  bool rateGiven = false;
  for (const auto& [name, value] : request_.start.registry) {
    machine_->PresetHardwareDword(name, value);
    rateGiven |= name == u"SampleRate";
  }
  if (!rateGiven) machine_->PresetHardwareDword(u"SampleRate", request_.rate);
  const sim::machine::Binding binding = PackageBinding(*plugged.device);
  const NTSTATUS status = machine_->PlugDevice(std::move(plugged.device), binding);
  if (kernel_.Stopped()) return Stopped("the machine stopped during the start");
  if (!NT_SUCCESS(status)) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
    return Refused(std::string("the driver refused the device (") + code + ")");
  }
  return true;
}

NTSTATUS Session::Open(bool capture) {
  NTSTATUS status = STATUS_NO_MATCH;
  for (unsigned bits : PinWidths(request_.format)) {
    if (capture) {
      status = engine_.OpenCapture(
          Wish(request_, bits), kPeriodMs,
          [this](const uint8_t* src, ULONG frames, const sim::audioengine::PinFormat& format) {
            reader_.Take(src, frames, format);
          },
          &capture_);
    } else {
      status = engine_.OpenRender(
          Wish(request_, bits), kPeriodMs,
          [this](uint8_t* dst, ULONG frames, const sim::audioengine::PinFormat& format) {
            if (fileWriter_) {
              fileWriter_->Fill(dst, frames, format);
            } else {
              writer_.Fill(dst, frames, format);
            }
          },
          &render_);
    }
    if (status != STATUS_NO_MATCH) break;
  }
  return status;
}

bool Session::OpenStreams() {
  const auto interfaces = tarnlink::io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true);
  if (interfaces.empty()) return Refused("the device has no wave filter");
  const bool play = request_.directions != StreamDirections::Record;
  const bool record = request_.directions != StreamDirections::Play;
  NTSTATUS status = STATUS_SUCCESS;
  std::string refusal;
  const bool ran = machine_->RunInKernelThread([&] {
    status = engine_.Open(interfaces[0].symbolicLink);
    if (NT_SUCCESS(status) && record && !engine_.HasCapturePin()) {
      refusal = "the device has no capture pin";
      return;
    }
    if (NT_SUCCESS(status) && play) status = Open(false);
    if (NT_SUCCESS(status) && record) status = Open(true);
    if (NT_SUCCESS(status) && capture_) status = capture_->Start();
    if (NT_SUCCESS(status) && render_) status = render_->Start();
  });
  if (!ran) return Stopped("the machine stopped while opening the streams");
  if (!refusal.empty()) return Refused(refusal);
  if (status == STATUS_NO_MATCH) {
    return Refused("the device cannot stream " + std::to_string(request_.rate) + " Hz " +
                   FormatName(request_.format) + " on " + ChannelCount(request_.channels) +
                   ": none of its data ranges matches");
  }
  if (!NT_SUCCESS(status)) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
    return Refused(std::string("the stream could not start (") + code + ")");
  }
  return true;
}

std::optional<CapturePath> Session::CapturedPath() {
  if (device_ == nullptr) return std::nullopt;
  CUSBAudioCL& model = Adapter()->Model();
  const auto captured = device_->CurrentLayout(model.CaptureInterface()->InterfaceNumber);
  if (!captured) return std::nullopt;
  const unsigned pinBits = capture_->Format().bits;
  if (!looped_) return CapturePath{*captured, 32, pinBits};
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

std::vector<std::vector<uint32_t>> Session::Received(unsigned containerBits) const {
  std::vector<std::vector<uint32_t>> words;
  for (unsigned c = 0; c < request_.channels; ++c) {
    words.push_back(reader_.Samples(c));
    for (uint32_t& w : words.back()) w = LeftJustified(w, containerBits);
  }
  return words;
}

std::vector<std::vector<uint32_t>> Session::Played(const sim::devices::PlaybackSink& sink) const {
  std::vector<std::vector<uint32_t>> words;
  for (unsigned c = 0; c < request_.channels; ++c) {
    words.push_back(sink.Samples(c));
    for (uint32_t& w : words.back()) w = LeftJustified(w, sink.Layout().subslotBytes * 8u);
  }
  return words;
}

void Session::CollectPlay() {
  DirectionResult play;
  play.pinBits = render_->Format().bits;
  play.announcedGlitches = render_->Counters().glitches;
  const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
  const auto* sink = device_ != nullptr ? device_->Sink(number) : nullptr;
  if (sink == nullptr) {
    Summarise({}, writer_.Frames(), &play);
    result_->play = play;
    return;
  }
  const sim::devices::FeedbackSeen& feedback = device_->Feedback();
  if (feedback.ticksPerSecond != 0) {
    result_->feedbackRange = {feedback.Rate(feedback.lowest), feedback.Rate(feedback.highest)};
  }
  result_->fifoUnderruns = sink->Counters().underruns;
  result_->fifoOverruns = sink->Counters().overruns;
  const sim::devices::SampleLayout layout = sink->Layout();
  // Frames of the start that never arrived, and the sent frame the first of them was.
  uint64_t missed = 0;
  uint64_t firstMissed = 0;
  if (request_.input) {
    const FileAlignment at = CompareWithFile(
        Played(*sink), *request_.input, std::min<unsigned>(play.pinBits, layout.bitResolution), &play);
    missed = at.missedAtStart;
    firstMissed = at.firstFileFrame - at.missedAtStart;
    play.framesSent = fileWriter_->Frames();
  } else {
    const auto seen = SeenLayout(writer_.ValidBits(), render_->Format(), layout);
    std::vector<Continuity> channels;
    for (unsigned c = 0; c < request_.channels; ++c) {
      std::vector<uint32_t> words = sink->Samples(c);
      // Once the engine stops, the transfers on their way carry silence.
      while (!words.empty() && words.back() == 0) words.pop_back();
      channels.push_back(sim::devices::CheckContinuity(words, c, seen));
    }
    Summarise(channels, writer_.Frames(), &play);
    if (play.framesReceived > 0) missed = channels[0].firstFrame;
  }
  if (missed > 0) {
    // A start the device never received is lost audio like any gap.
    play.bitExact = false;
    play.firstMismatchFrame = firstMissed;
    if (play.signalChecked) ++play.gaps;
    result_->notes.push_back("the device's first frame was the engine's frame " +
                             std::to_string(firstMissed + missed) + ": the " +
                             std::to_string(missed) +
                             " frames before it were dropped as the stream started");
  }
  result_->play = play;
}

void Session::CollectRecord() {
  DirectionResult record;
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
    std::vector<Continuity> channels;
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
  result_->record = record;
  if (render_ && looped_ && arrival) {
    // Both positions count from their own RUN; the earlier start is ahead by the difference.
    const int64_t offset = (static_cast<int64_t>(capture_->RunSince()) -
                            static_cast<int64_t>(render_->RunSince())) *
                           capture_->Format().rate / 10000000;
    result_->latencyFrames = *arrival + offset;
  }
}

void Session::WriteOut() {
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

bool Session::Run() {
  if (!Boot() || !OpenStreams()) return false;
  const auto wallStart = std::chrono::steady_clock::now();
  const uint64_t ms = static_cast<uint64_t>(request_.seconds * 1000);
  const uint64_t settle = ms > kSettleMs ? kSettleMs : ms;
  std::optional<TraceRecorder> trace;
  if (!request_.plotPath.empty()) {
    const auto* playback = Adapter()->Model().PlaybackInterface();
    trace.emplace(kernel_, *machine_, device_, playback != nullptr ? playback->InterfaceNumber : -1,
                  capture_.get());
  }
  // Runs a stretch of simulated time, sampling it for the plot.
  const auto run = [&](uint64_t stretchMs) {
    if (!trace) return kernel_.RunFor(stretchMs * kMs);
    for (uint64_t done = 0; done < stretchMs; done += kTraceStepMs) {
      if (!trace->Sample() || !kernel_.RunFor(std::min(kTraceStepMs, stretchMs - done) * kMs))
        return false;
    }
    return trace->Sample();
  };
  if (!run(settle)) return Stopped("the machine stopped while streaming");
  const uint64_t allocations = kernel_.PoolStats(kDriverPoolTag).totalCount;
  if (!run(ms - settle)) return Stopped("the machine stopped while streaming");
  result_->poolAllocations = kernel_.PoolStats(kDriverPoolTag).totalCount - allocations;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  result_->simSpeed = wall > 0 ? request_.seconds / wall : 0;
  if (render_) CollectPlay();
  if (capture_) CollectRecord();
  WriteOut();
  std::string plotError;
  if (trace && !WritePlot(request_.plotPath, trace->Trace(), &plotError)) {
    result_->writeErrors.push_back(plotError);
  }
  if (!machine_->RunInKernelThread([&] {
        if (render_) render_->Close();
        if (capture_) capture_->Close();
        engine_.Close();
      }) ||
      !machine_->UnloadDriver())
    return Stopped("the machine stopped");
  return true;
}

}  // namespace

const char* FormatName(EngineSampleFormat format) {
  switch (format) {
    case EngineSampleFormat::Pcm16:
      return "pcm16";
    case EngineSampleFormat::Pcm24:
      return "pcm24";
    case EngineSampleFormat::Pcm32:
      return "pcm32";
    case EngineSampleFormat::Float:
      return "float";
  }
  return "?";
}

std::string ChannelCount(uint32_t channels) {
  return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

bool RunStreamSession(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal) {
  Session session(request, result, refusal);
  return session.Run();
}

}  // namespace tarnlink::tool
