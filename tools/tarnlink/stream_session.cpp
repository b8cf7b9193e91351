#include "stream_session.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "driver_entry.h"
#include "driver_pool.h"
#include "kernel/pnp_host.h"
#include "stream_session_run.h"
#include "stream_trace.h"

namespace tarnlink::tool {
namespace {

constexpr uint64_t kMs = 10000;          // 100 ns units
constexpr uint64_t kSettleMs = 500;      // before the pool count starts
constexpr ULONG kPeriodMs = 10;
constexpr uint64_t kTraceStepMs = 5;  // between two samples of a plot

// The pin widths the engine asks for: its own width, or for float the widest the device takes.
sim::audioengine::WishedFormat Wish(const StreamRequest& request, unsigned bits) {
  return {request.rate, request.channels, bits};
}

std::vector<unsigned> PinWidths(EngineSampleFormat format) {
  if (format == EngineSampleFormat::Float) return {32, 24, 16};
  return {SignalBits(format)};
}

}  // namespace

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

std::string StopReport(kernel::HostKernel& kernel, const char* otherwise) {
  const kernel::StopInfo* stop = kernel.Stop();
  return stop != nullptr ? stop->report : otherwise;
}

bool StreamSession::Boot() {
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

NTSTATUS StreamSession::Open(bool capture) {
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

bool StreamSession::OpenStreams() {
  if (Asio()) return StartHost();
  return OpenEngine(request_.directions != StreamDirections::Record,
                    request_.directions != StreamDirections::Play);
}

bool StreamSession::OpenEngine(bool play, bool record) {
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

bool StreamSession::Run() {
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
  StreamSession session(request, result, refusal);
  return session.Run();
}

}  // namespace tarnlink::tool
