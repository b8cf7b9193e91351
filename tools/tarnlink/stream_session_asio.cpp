// The ASIO path of a run: the package installed as its installer does, the host started in a
// process of its own, and what the host and the device saw of its streams.
#include <algorithm>

#include "settings/reg_util.h"
#include "sim/asiohost/driver_package.h"
#include "stream_session_run.h"

namespace tarnlink::tool {

bool StreamSession::InstallAsio() {
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

// The engine takes the direction the host leaves free, or records beside a duplex host.
bool StreamSession::StartHost() {
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

unsigned StreamSession::DeviceBits(bool input) {
  if (device_ == nullptr) return 0;
  CUSBAudioCL& model = Adapter()->Model();
  const USBAudioStreamInterface* stream =
      input ? model.CaptureInterface() : model.PlaybackInterface();
  if (stream == nullptr) return 0;
  const auto layout = device_->CurrentLayout(stream->InterfaceNumber);
  return layout ? layout->bitResolution : 0;
}

// What the device received of the host's signal, in the bits the host wrote it with.
void StreamSession::CollectHostPlay(DirectionResult* play) {
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
void StreamSession::CollectHostRecord(DirectionResult* record) {
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

void StreamSession::CollectHost() {
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

}  // namespace tarnlink::tool
