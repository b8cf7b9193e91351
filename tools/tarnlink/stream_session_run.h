// One run of play, record or duplex on a machine of its own: it boots the machine, opens the
// audio engine's streams or starts an ASIO host, lets them run and collects what each end saw.
// The run itself is in stream_session.cpp, the ASIO host's part in stream_session_asio.cpp and
// the checks of what arrived in stream_session_results.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch_context.h"
#include "file_playback.h"
#include "sim/asiohost/asio_host.h"
#include "sim/audioengine/audio_engine.h"
#include "sim/audioengine/pin_signal.h"
#include "sim/devices/position_signal.h"
#include "sim/devices/uac_device.h"
#include "sim/machine/machine.h"
#include "stream_session.h"
#include "usb_audio_adapter.h"

namespace tarnlink::tool {

// A DSD stream idles with this word before and after the host's.
inline constexpr uint32_t kDsdIdleWord = 0x96969696;

// The signal's significant bits for the engine's format: a float's mantissa carries 24.
unsigned SignalBits(EngineSampleFormat format);
// What stopped the machine, or else `otherwise`.
std::string StopReport(kernel::HostKernel& kernel, const char* otherwise);
// A direction's result from its channels' continuity checks.
void Summarise(const std::vector<sim::devices::Continuity>& channels, uint64_t framesSent,
               DirectionResult* result);

class StreamSession {
 public:
  StreamSession(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal)
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
  std::optional<sim::audioengine::CapturePath> CapturedPath();
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
  std::unique_ptr<sim::audioengine::EngineStream> render_;
  std::unique_ptr<sim::audioengine::EngineStream> capture_;
  sim::audioengine::SignalWriter writer_{SignalBits(request_.format)};
  std::optional<FileWriter> fileWriter_;
  sim::audioengine::SignalReader reader_;
  std::unique_ptr<sim::asiohost::AsioHost> host_;
};

}  // namespace tarnlink::tool
