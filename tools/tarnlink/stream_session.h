// One run of `tarnlink play`, `record` or `duplex`: a machine in virtual time loads the driver,
// plugs the device, and the operating system's audio engine streams through the driver's wave
// filter for the asked time, or an ASIO host through the ASIO driver the machine installed;
// what reached the other end is checked sample by sample.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter_start.h"
#include "audio_file.h"
#include "device_source.h"

namespace tarnlink::tool {

enum class StreamDirections { Play, Record, Duplex };

// The engine's own sample format; the pin's is what the filter proposes for it.
enum class EngineSampleFormat { Pcm16, Pcm24, Pcm32, Float };

// Who streams: the operating system's audio engine, or an ASIO host.
enum class StreamPath { Os, Asio };

// What the ASIO path asks for.
struct AsioRequest {
  int32_t bufferFrames = 0;  // what the host asks for; 0: the driver's preferred size
  int32_t bufferIndex = -1;  // >= 0: chosen in the control panel before the host starts
  bool dsd = false;          // native DSD at the request's rate (a DSD bit rate)
  std::string host = "typical";  // a shipped host script or a script file
  bool alsoOs = false;  // the audio engine streams on the same device at once
};

struct StreamRequest {
  StreamDirections directions = StreamDirections::Play;
  DeviceChoice device;
  std::string deviceName;  // for the report
  uint32_t rate = 48000;
  EngineSampleFormat format = EngineSampleFormat::Float;
  uint32_t channels = 2;
  double seconds = 3;
  StartSettings start;
  // Played instead of the position signal (its rate and channels are the request's).
  std::shared_ptr<const AudioFile> input;
  // Where what the device received (play) or the engine recorded (record, duplex) goes as WAV.
  std::string outPath;
  // Where the plot of the FIFO level, the feedback value and the capture position error goes.
  std::string plotPath;
  StreamPath path = StreamPath::Os;
  AsioRequest asio;
  // The machine runs on the host's clock instead of in virtual time.
  bool realtime = false;
};

// What one direction's receiving end saw.
struct DirectionResult {
  uint64_t framesSent = 0;
  uint64_t framesReceived = 0;
  bool bitExact = false;
  std::optional<uint64_t> firstMismatchFrame;
  uint64_t gaps = 0;
  uint64_t repeats = 0;
  uint64_t announcedGlitches = 0;
  uint32_t pinBits = 0;
  // Gaps and repeats are known only where the position signal was checked, not for a file.
  bool signalChecked = true;
};

// What the ASIO host saw of the driver.
struct AsioFindings {
  std::string host;        // the script's name
  std::string sampleType;  // "int32lsb", "dsdint8lsb1", ...
  uint32_t channels = 0;   // the host opened: its outputs, or its inputs when it only records
  int32_t bufferSize = 0;  // of the last opening, in ASIO samples
  int32_t inputLatency = 0;   // as the driver reports them
  int32_t outputLatency = 0;
  uint64_t resetRequests = 0;
  uint64_t bufferSwitches = 0;
  uint64_t missedPeriods = 0;  // buffer switches the clock says should have come and did not
  std::vector<std::string> hostFailures;  // calls that did not give what the script expected
};

struct StreamResult {
  std::optional<DirectionResult> play;
  std::optional<DirectionResult> record;
  uint64_t fifoUnderruns = 0;
  uint64_t fifoOverruns = 0;
  uint64_t poolAllocations = 0;  // by the driver once the streams had settled
  double simSpeed = 0;           // simulated seconds per wall-clock second
  // Duplex with the loopback cable: capture frames from a frame leaving the render stream to
  // its arrival in the capture stream.
  std::optional<int64_t> latencyFrames;
  // The lowest and highest explicit feedback the device sent, as rates in frames per second;
  // unset on a device without a feedback endpoint.
  std::optional<std::pair<double, double>> feedbackRange;
  std::vector<std::string> notes;
  std::optional<AsioFindings> asio;
  // The audio engine's stream beside an ASIO host (--also-os), and whether it recorded.
  std::optional<DirectionResult> os;
  bool osRecorded = false;
  // The --out or --plot files that could not be written, each with the reason; the run's report
  // stands regardless.
  std::vector<std::string> writeErrors;
};

// What ended a run other than a result.
struct StreamRefusal {
  bool machineStopped = false;  // else the device or the format was refused
  std::string reason;
};

// True with *result filled (an output file that could not be written is one of its write
// errors); false with *refusal saying why.
bool RunStreamSession(const StreamRequest& request, StreamResult* result, StreamRefusal* refusal);

const char* FormatName(EngineSampleFormat format);
// The ASIO sample type as reports name it: "int32lsb", "dsdint8msb1", ...
std::string SampleTypeName(int32_t type);
// "1 channel", "2 channels".
std::string ChannelCount(uint32_t channels);

}  // namespace tarnlink::tool
