#include "stream_session.h"

#include <chrono>
#include <memory>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "driver_pool.h"
#include "kernel/pnp_host.h"
#include "sim/audioengine/audio_engine.h"
#include "sim/audioengine/pin_signal.h"
#include "sim/devices/uac_device.h"
#include "sim/machine/machine.h"
#include "usb_audio_adapter.h"

namespace tarnlink::tool {
namespace {

using sim::audioengine::EngineStream;
using sim::audioengine::PinLayout;
using sim::audioengine::SeenLayout;
using sim::devices::Continuity;

constexpr uint64_t kMs = 10000;          // 100 ns units
constexpr uint64_t kSettleMs = 500;      // before the pool count starts
constexpr ULONG kPeriodMs = 10;

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
  void Collect();
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
  sim::audioengine::AudioEngine engine_{kernel_};
  std::unique_ptr<EngineStream> render_;
  std::unique_ptr<EngineStream> capture_;
  sim::audioengine::SignalWriter writer_{SignalBits(request_.format)};
  sim::audioengine::SignalReader reader_;
};

bool Session::Boot() {
  PluggedDevice plugged;
  std::string error;
  DeviceChoice choice = request_.device;
  choice.keepSamples = true;
  if (!OpenDevice(choice, &plugged, &error)) return Refused(error);
  result_->notes = plugged.notes;
  device_ = dynamic_cast<sim::devices::UacDevice*>(plugged.device.get());
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
            writer_.Fill(dst, frames, format);
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
                   FormatName(request_.format) + " on " + std::to_string(request_.channels) +
                   " channels: none of its data ranges matches");
  }
  if (!NT_SUCCESS(status)) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
    return Refused(std::string("the stream could not start (") + code + ")");
  }
  return true;
}

void Session::Collect() {
  if (render_) {
    DirectionResult play;
    play.pinBits = render_->Format().bits;
    play.announcedGlitches = render_->Counters().glitches;
    const uint8_t number = Adapter()->Model().PlaybackInterface()->InterfaceNumber;
    const auto* sink = device_ != nullptr ? device_->Sink(number) : nullptr;
    std::vector<Continuity> channels;
    if (sink != nullptr) {
      const auto layout = SeenLayout(writer_.ValidBits(), render_->Format(), sink->Layout());
      for (unsigned c = 0; c < request_.channels; ++c) {
        std::vector<uint32_t> words = sink->Samples(c);
        // Once the engine stops, the transfers on their way carry silence.
        while (!words.empty() && words.back() == 0) words.pop_back();
        channels.push_back(sim::devices::CheckContinuity(words, c, layout));
      }
      result_->fifoUnderruns = sink->Counters().underruns;
      result_->fifoOverruns = sink->Counters().overruns;
    }
    Summarise(channels, writer_.Frames(), &play);
    result_->play = play;
  }
  if (capture_) {
    DirectionResult record;
    record.pinBits = capture_->Format().bits;
    record.announcedGlitches = capture_->Counters().glitches;
    std::vector<Continuity> channels;
    for (unsigned c = 0; c < request_.channels; ++c)
      channels.push_back(sim::devices::CheckContinuity(reader_.Samples(c), c,
                                                       PinLayout(capture_->Format())));
    Summarise(channels, reader_.Frames(), &record);
    result_->record = record;
  }
}

bool Session::Run() {
  if (!Boot() || !OpenStreams()) return false;
  const auto wallStart = std::chrono::steady_clock::now();
  const uint64_t ms = static_cast<uint64_t>(request_.seconds * 1000);
  const uint64_t settle = ms > kSettleMs ? kSettleMs : ms;
  if (!kernel_.RunFor(settle * kMs)) return Stopped("the machine stopped while streaming");
  const uint64_t allocations = kernel_.PoolStats(kDriverPoolTag).totalCount;
  if (!kernel_.RunFor((ms - settle) * kMs)) return Stopped("the machine stopped while streaming");
  result_->poolAllocations = kernel_.PoolStats(kDriverPoolTag).totalCount - allocations;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  result_->simSpeed = wall > 0 ? request_.seconds / wall : 0;
  Collect();
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

bool RunStreamSession(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal) {
  Session session(request, result, refusal);
  return session.Run();
}

}  // namespace tarnlink::tool
