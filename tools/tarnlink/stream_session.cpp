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
#include "sim/asiohost/asio_host.h"
#include "sim/asiohost/driver_package.h"
#include "sim/devices/uac_device.h"
#include "sim/machine/machine.h"
#include "settings/reg_util.h"
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
// A DSD stream idles with this word before and after the host's.
constexpr uint32_t kDsdIdleWord = 0x96969696;

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
      : request_(request),
        result_(result),
        refusal_(refusal),
        kernel_(kernel::HostKernel::Options{
            request.realtime ? kernel::ClockMode::Real : kernel::ClockMode::Virtual}) {}

  bool Run();

 private:
  bool Asio() const { return request_.path == StreamPath::Asio; }
  bool Boot();
  // The ASIO driver as the package installs it, and the control panel's buffer size.
  bool InstallAsio();
  bool OpenStreams();
  // The audio engine's streams in the directions asked for.
  bool OpenEngine(bool play, bool record);
  NTSTATUS Open(bool capture);
  // The ASIO host, started on its own process; an engine stream beside it with --also-os.
  bool StartHost();
  void CollectPlay(DirectionResult* play);
  void CollectRecord(DirectionResult* record);
  void CollectHostPlay(DirectionResult* play);
  void CollectHostRecord(DirectionResult* record);
  void CollectHost();
  // What the device itself saw of the playback: its FIFO and the feedback it sent.
  void CollectDevice();
  // The device's sink checked channel by channel for a signal that arrives in `seen`; returns
  // the signal's frame the sink's first sample held.
  uint64_t CheckSink(const sim::devices::PlaybackSink& sink, unsigned channels,
                     sim::devices::SampleLayout seen, uint64_t framesSent, DirectionResult* play);
  // The bits of a sample the device keeps in a direction, as it runs now.
  unsigned DeviceBits(bool input);
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
  std::unique_ptr<sim::asiohost::AsioHost> host_;
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
  if (Asio() && !InstallAsio()) return false;
  // A device in fixed-rate mode plays the operating system's stream at its fixed rate only; a
  // DSD stream runs the device at a 32nd of the bit rate.
  bool rateGiven = false;
  for (const auto& [name, value] : request_.start.registry) {
    machine_->PresetHardwareDword(name, value);
    rateGiven |= name == u"SampleRate";
  }
  if (!rateGiven) {
    machine_->PresetHardwareDword(u"SampleRate",
                                  request_.asio.dsd ? request_.rate / 32 : request_.rate);
  }
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

bool Session::InstallAsio() {
  if (machine_->InstallAsioDriver(sim::asiohost::TarnlinkAsioModule()) != S_OK)
    return Stopped("the ASIO driver did not register");
  // As the user would have left them in the control panel: the run's rate, so that the driver
  // opens the device at it (an operating-system stream beside it needs that), and the buffer
  // size when asked.
  const int32_t index = request_.asio.bufferIndex;
  const DWORD rate = request_.rate;
  if (!machine_->RunInProcess("Tarnlink_cpl.exe", [index, rate] {
        CmnRegUtil settings;
        settings.CreateDefaults();
        settings.WriteNumber(kSettingSamplingRate, rate);
        if (index >= 0) settings.WriteNumber(kSettingBufferSizeIndex, static_cast<DWORD>(index));
      }))
    return Stopped("the machine stopped while writing the ASIO settings");
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
  if (Asio()) return StartHost();
  return OpenEngine(request_.directions != StreamDirections::Record,
                    request_.directions != StreamDirections::Play);
}

bool Session::OpenEngine(bool play, bool record) {
  const auto interfaces = tarnlink::io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true);
  if (interfaces.empty()) return Refused("the device has no wave filter");
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

// The engine takes the direction the host leaves free, or records beside a duplex host.
bool Session::StartHost() {
  sim::asiohost::HostScript script;
  std::string error;
  if (!sim::asiohost::LoadHostScript(request_.asio.host, &script, &error)) return Refused(error);
  if (request_.directions != StreamDirections::Play &&
      Adapter()->Model().CaptureInterface() == nullptr)
    return Refused("the device has no input");
  if (request_.asio.alsoOs &&
      !OpenEngine(request_.directions == StreamDirections::Record,
                  request_.directions != StreamDirections::Record))
    return false;
  sim::asiohost::HostSettings settings;
  settings.rate = request_.rate;
  settings.dsd = request_.asio.dsd;
  settings.bufferFrames = request_.asio.bufferFrames;
  settings.runMs = request_.seconds * 1000;
  settings.openInputs = request_.directions != StreamDirections::Play;
  settings.openOutputs = request_.directions != StreamDirections::Record;
  settings.keptBits = [this](bool input) {
    // Looped back, the signal must survive both directions' cuts.
    if (looped_) return std::min(DeviceBits(false), DeviceBits(true));
    return DeviceBits(input);
  };
  host_ = std::make_unique<sim::asiohost::AsioHost>(std::move(script), settings);
  host_->Start(kernel_);
  return true;
}

unsigned Session::DeviceBits(bool input) {
  if (device_ == nullptr) return 0;
  CUSBAudioCL& model = Adapter()->Model();
  const USBAudioStreamInterface* stream =
      input ? model.CaptureInterface() : model.PlaybackInterface();
  if (stream == nullptr) return 0;
  const auto layout = device_->CurrentLayout(stream->InterfaceNumber);
  return layout ? layout->bitResolution : 0;
}

std::optional<CapturePath> Session::CapturedPath() {
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

void Session::CollectDevice() {
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

uint64_t Session::CheckSink(const sim::devices::PlaybackSink& sink, unsigned channels,
                           sim::devices::SampleLayout seen, uint64_t framesSent,
                           DirectionResult* play) {
  std::vector<Continuity> checked;
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

void Session::CollectPlay(DirectionResult* play) {
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

// What the device received of the host's signal, in the bits the host wrote it with.
void Session::CollectHostPlay(DirectionResult* play) {
  const sim::asiohost::HostReport& report = host_->Report();
  play->pinBits = sim::asiohost::LayoutOfType(report.sampleType).subslotBytes * 8u;
  play->announcedGlitches = report.halfOrderErrors + report.positionErrors;
  const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
  const auto* sink = device_ != nullptr ? device_->Sink(number) : nullptr;
  if (sink == nullptr) {
    Summarise({}, report.framesPlayed, play);
    return;
  }
  // The signal as the host wrote it, in the subslots it arrives in.
  sim::devices::SampleLayout seen = sink->Layout();
  if (!report.segments.empty()) {
    seen.bitResolution = std::min(seen.bitResolution, report.segments.back().outputLayout.bitResolution);
  }
  CheckSink(*sink, static_cast<unsigned>(report.outputs), seen, report.framesPlayed, play);
}

// What the host's inputs saw in its last opening, and the round trip of a looped signal.
void Session::CollectHostRecord(DirectionResult* record) {
  const sim::asiohost::HostReport& report = host_->Report();
  record->pinBits = sim::asiohost::LayoutOfType(report.sampleType).subslotBytes * 8u;
  record->announcedGlitches = report.halfOrderErrors + report.positionErrors;
  const auto* source = device_ != nullptr
                           ? device_->Source(Adapter()->Model().CaptureInterface()->InterfaceNumber)
                           : nullptr;
  if (report.segments.empty()) {
    Summarise({}, 0, record);
  } else {
    const sim::asiohost::BufferSegment& last = report.segments.back();
    Summarise(last.inputs, 0, record);
    if (looped_ && !last.inputs.empty() && last.inputs[0].frames > 0) {
      result_->latencyFrames = static_cast<int64_t>(last.inputs[0].leadingSilence) +
                               static_cast<int64_t>(last.firstOutputFrame) -
                               static_cast<int64_t>(last.firstInputFrames[0]);
    }
  }
  record->framesSent = source != nullptr ? source->FramesSent() : 0;
}

void Session::CollectHost() {
  const sim::asiohost::HostReport& report = host_->Report();
  AsioFindings findings;
  findings.host = request_.asio.host;
  findings.sampleType = SampleTypeName(report.sampleType);
  findings.channels = static_cast<uint32_t>(
      request_.directions == StreamDirections::Record ? report.inputs : report.outputs);
  findings.bufferSize = report.segments.empty() ? 0 : report.segments.back().bufferSize;
  findings.inputLatency = report.inputLatency;
  findings.outputLatency = report.outputLatency;
  findings.resetRequests = report.resetRequests;
  findings.bufferSwitches = report.switches;
  findings.missedPeriods = report.missedPeriods;
  findings.hostFailures = report.failures;
  result_->asio = findings;
  if (request_.directions != StreamDirections::Record) CollectHostPlay(&result_->play.emplace());
  if (request_.directions != StreamDirections::Play) CollectHostRecord(&result_->record.emplace());
  // The engine beside the host.
  if (render_) CollectPlay(&result_->os.emplace());
  if (capture_) {
    result_->osRecorded = true;
    CollectRecord(&result_->os.emplace());
  }
}

void Session::CollectRecord(DirectionResult* out) {
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
  // Before anything stops: once it does, the FIFO runs dry.
  if (request_.directions != StreamDirections::Record) CollectDevice();
  // The host closes the driver as its script says once its run is over.
  if (host_ && !kernel_.RunUntil([&] { return host_->Finished(); }))
    return Stopped("the machine stopped while the ASIO host closed the driver");
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  result_->simSpeed = wall > 0 ? request_.seconds / wall : 0;
  if (host_) {
    CollectHost();
  } else {
    if (render_) CollectPlay(&result_->play.emplace());
    if (capture_) CollectRecord(&result_->record.emplace());
  }
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

std::string SampleTypeName(int32_t type) {
  switch (type) {
    case ASIOSTInt16LSB:
      return "int16lsb";
    case ASIOSTInt24LSB:
      return "int24lsb";
    case ASIOSTInt32LSB:
      return "int32lsb";
    case ASIOSTFloat32LSB:
      return "float32lsb";
    case ASIOSTInt32LSB24:
      return "int32lsb24";
    case ASIOSTDSDInt8LSB1:
      return "dsdint8lsb1";
    case ASIOSTDSDInt8MSB1:
      return "dsdint8msb1";
    default:
      return "type " + std::to_string(type);
  }
}

std::string ChannelCount(uint32_t channels) {
  return std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

bool RunStreamSession(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal) {
  Session session(request, result, refusal);
  return session.Run();
}

}  // namespace tarnlink::tool
