#include "stream_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "command_line.h"
#include "option_checks.h"
#include "sim/devices/catalogue.h"
#include "start_options.h"
#include "stream_plot.h"

namespace tarnlink::tool {
namespace {

// An option whose value, once given, replaces the default and is marked as given.
template <typename T>
CLI::Option* AddGiven(CLI::App* command, const char* name, T* value, bool* given,
                      const char* help) {
  return command->add_option_function<T>(
      name,
      [value, given](const T& v) {
        *value = v;
        *given = true;
      },
      help);
}

void AddOptions(CLI::App* command, StreamOptions* options) {
  StreamRequest& request = options->request;
  CLI::Option* device = command->add_option("--device", request.device.catalogueName,
                                            "A catalogue device (see `tarnlink info --list`)")
                            ->type_name("NAME")
                            ->check(kCatalogueName)
                            ->capture_default_str();
  CLI::Option* descriptors =
      command->add_option("--descriptors", request.device.descriptorsPath,
                          "A Linux sysfs `descriptors` file to build the device from")
          ->type_name("FILE");
  device->excludes(descriptors);
  command
      ->add_option_function<std::string>(
          "--path",
          [options](const std::string& path) {
            options->path = path;
            options->request.path = path == "asio" ? StreamPath::Asio : StreamPath::Os;
          },
          "Who streams: the operating system's audio engine (default), or an ASIO host through "
          "the ASIO driver")
      ->type_name("os|asio")
      ->check(CLI::IsMember({"os", "asio"}).description(""));
  AddGiven(command, "--rate", &request.rate, &options->rateGiven,
           "Sample rate in Hz (default 48000, or the --in file's; with --format dsd the DSD bit "
           "rate, default 2822400)")
      ->type_name("HZ")
      ->check(CLI::Range(8000u, 49152000u).description(""));
  command
      ->add_option_function<std::string>(
          "--format",
          [options](const std::string& name) {
            StreamRequest& r = options->request;
            options->formatGiven = true;
            r.asio.dsd = name == "dsd";
            r.format = name == "pcm16"   ? EngineSampleFormat::Pcm16
                       : name == "pcm24" ? EngineSampleFormat::Pcm24
                       : name == "pcm32" ? EngineSampleFormat::Pcm32
                                         : EngineSampleFormat::Float;
          },
          "The engine's sample format (default float; the pin takes the widest PCM the device "
          "offers); with --path asio only dsd, native DSD (the ASIO driver otherwise takes the "
          "device's own sample format)")
      ->type_name("pcm16|pcm24|pcm32|float|dsd")
      ->check(CLI::IsMember({"pcm16", "pcm24", "pcm32", "float", "dsd"}).description(""));
  // The ASIO path's own options; each is noted as given, for the other path to refuse.
  const auto asioOption = [command, options](const char* name, auto* value, const char* help) {
    return command->add_option_function<std::decay_t<decltype(*value)>>(
        name,
        [options, value, name](const auto& v) {
          *value = v;
          options->asioOptionsGiven.push_back(name);
        },
        help);
  };
  CLI::Option* buffer =
      asioOption("--buffer", &request.asio.bufferFrames,
                 "ASIO: the buffer size the host asks for, in samples (default the driver's "
                 "preferred size)")
          ->type_name("FRAMES")
          ->check(CLI::Range(1, 1 << 20).description(""));
  asioOption("--buffer-index", &request.asio.bufferIndex,
             "ASIO: the buffer size chosen in the control panel before the host starts")
      ->type_name("I")
      ->check(CLI::Range(0, 127).description(""))
      ->excludes(buffer);
  asioOption("--host", &request.asio.host,
             "ASIO: the host's behaviour, a shipped script (see README) or a script file "
             "(default typical)")
      ->type_name("SCRIPT");
  command
      ->add_flag_callback(
          "--also-os",
          [options] {
            options->request.asio.alsoOs = true;
            options->asioOptionsGiven.push_back("--also-os");
          },
          "ASIO: the audio engine streams on the same device at once, in the direction the host "
          "leaves free (records beside play and duplex)");
  AddGiven(command, "--channels", &request.channels, &options->channelsGiven,
           "Channels (default 2, or the --in file's)")
      ->type_name("N")
      ->check(CLI::Range(1u, 32u).description(""));
  AddGiven(command, "--seconds", &request.seconds, &options->secondsGiven,
           "Simulated seconds to stream (default 3, or the --in file's length)")
      ->type_name("S")
      ->check(CLI::Range(0.1, 3600.0).description(""));
  command->add_option("--in", options->inPath,
                      "Play this audio file (WAV, FLAC, AIFF, ...) instead of the position signal "
                      "and check what arrived against it")
      ->type_name("FILE");
  command->add_option("--out", request.outPath,
                      "Write what the device received (play) or the engine recorded (record, "
                      "duplex) as WAV")
      ->type_name("FILE.wav");
  command->add_option("--plot", request.plotPath,
                      "Draw the device FIFO level, the feedback value and the capture position "
                      "error over time (PNG or SVG)")
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](const std::string& path) {
            return PlotFormat(path) ? std::string() : "a plot is a .png or .svg file";
          },
          "", "plot file"));
  command->add_option_function<std::vector<std::string>>(
             "--registry",
             [&request](const std::vector<std::string>& values) {
               for (const std::string& text : values) {
                 std::pair<std::u16string, uint32_t> preset;
                 ParseRegistryValue(text, &preset.first, &preset.second);
                 request.start.registry.push_back(std::move(preset));
               }
             },
             "A REG_DWORD value in the device's hardware key before the start (repeatable); "
             "SampleRate defaults to --rate")
      ->type_name("NAME=VALUE")
      ->check(CLI::Validator(
          [](const std::string& text) { return ParseRegistryValue(text, nullptr, nullptr); }, "",
          "registry value"))
      ->allow_extra_args(false);
  command->add_flag("--json", options->json, "One JSON object instead of text (keys: see README)");
  command->add_flag("--realtime", request.realtime,
                    "Run the machine on this computer's clock instead of in virtual time (a live "
                    "run: on a loaded computer the ASIO path then misses periods)");
}

nlohmann::ordered_json DirectionJson(const DirectionResult& d) {
  nlohmann::ordered_json j;
  j["frames_sent"] = d.framesSent;
  j["frames_received"] = d.framesReceived;
  j["bit_exact"] = d.bitExact;
  j["first_mismatch_frame"] =
      d.firstMismatchFrame ? nlohmann::ordered_json(*d.firstMismatchFrame) : nullptr;
  j["gaps"] = d.signalChecked ? nlohmann::ordered_json(d.gaps) : nullptr;
  j["repeats"] = d.signalChecked ? nlohmann::ordered_json(d.repeats) : nullptr;
  j["announced_glitches"] = d.announcedGlitches;
  return j;
}

// The format the run streamed in: the engine's, or the ASIO driver's sample type.
std::string RunFormat(const StreamOptions& options, const StreamResult& result) {
  if (!result.asio) return FormatName(options.request.format);
  return options.request.asio.dsd ? "dsd" : result.asio->sampleType;
}

uint32_t RunChannels(const StreamOptions& options, const StreamResult& result) {
  return result.asio ? result.asio->channels : options.request.channels;
}

std::string Json(const StreamOptions& options, const StreamResult& result) {
  const StreamRequest& request = options.request;
  nlohmann::ordered_json j;
  j["path"] = options.path;
  j["device"] = request.deviceName;
  j["rate"] = request.rate;
  j["format"] = RunFormat(options, result);
  j["channels"] = RunChannels(options, result);
  const DirectionResult& main = result.play ? *result.play : *result.record;
  const nlohmann::ordered_json counts = DirectionJson(main);
  for (auto it = counts.begin(); it != counts.end(); ++it) j[it.key()] = it.value();
  j["fifo_underruns"] = result.fifoUnderruns;
  j["fifo_overruns"] = result.fifoOverruns;
  j["latency_frames"] =
      result.latencyFrames ? nlohmann::ordered_json(*result.latencyFrames) : nullptr;
  j["feedback_range"] = result.feedbackRange
                            ? nlohmann::ordered_json::array(
                                  {result.feedbackRange->first, result.feedbackRange->second})
                            : nlohmann::ordered_json(nullptr);
  j["pool_allocations"] = result.poolAllocations;
  j["sim_speed"] = result.simSpeed;
  if (result.play && result.record) j["capture"] = DirectionJson(*result.record);
  if (result.asio) {
    const AsioFindings& asio = *result.asio;
    j["host"] = asio.host;
    j["buffer_size"] = asio.bufferSize;
    j["asio_input_latency"] = asio.inputLatency;
    j["asio_output_latency"] = asio.outputLatency;
    j["reset_requests"] = asio.resetRequests;
    j["buffer_switches"] = asio.bufferSwitches;
    j["missed_periods"] = asio.missedPeriods;
    j["host_failures"] = asio.hostFailures;
  }
  if (result.os) {
    j["os"] = DirectionJson(*result.os);
    j["os"]["direction"] = result.osRecorded ? "record" : "play";
  }
  j["notes"] = result.notes;
  return j.dump() + "\n";
}

void DirectionText(const std::string& name, const DirectionResult& d, std::ostream& out) {
  out << name << "\n";
  out << "  frames sent       " << d.framesSent << "\n";
  out << "  frames received   " << d.framesReceived << "\n";
  out << "  bit-exact         ";
  if (d.bitExact) {
    out << "yes\n";
  } else if (d.firstMismatchFrame) {
    out << "no, first mismatch at frame " << *d.firstMismatchFrame << "\n";
  } else {
    out << "no, nothing arrived\n";
  }
  if (d.signalChecked) out << "  gaps, repeats     " << d.gaps << ", " << d.repeats << "\n";
  out << "  engine glitches   " << d.announcedGlitches << "\n";
}

std::string PinText(const DirectionResult& d) {
  return "(pin " + std::to_string(d.pinBits) + "-bit PCM)";
}

void AsioText(const StreamResult& result, std::ostream& out) {
  const AsioFindings& asio = *result.asio;
  out << "ASIO latencies      input " << asio.inputLatency << ", output " << asio.outputLatency
      << " samples (as the driver reports them)\n";
  out << "reset requests      " << asio.resetRequests << "\n";
  out << "buffer switches     " << asio.bufferSwitches << ", " << asio.missedPeriods
      << " periods missed\n";
  for (const std::string& failure : asio.hostFailures) out << "host: " << failure << "\n";
  if (result.os) {
    DirectionText(std::string("operating system ") + (result.osRecorded ? "record " : "play ") +
                      PinText(*result.os),
                  *result.os, out);
  }
}

void Text(const StreamOptions& options, const StreamResult& result, std::ostream& out) {
  const StreamRequest& request = options.request;
  out << request.deviceName;
  if (result.asio) {
    out << " through the ASIO host (" << result.asio->host << ")";
  } else {
    out << " through the operating system's audio engine";
  }
  out << ": " << request.rate << " Hz, " << RunFormat(options, result) << ", "
      << ChannelCount(RunChannels(options, result)) << ", " << request.seconds << " s";
  if (result.asio) out << ", buffer " << result.asio->bufferSize << " samples";
  out << "\n";
  // What the receiving end of each direction holds: a pin's container, or the ASIO buffers.
  const auto held = [&](const DirectionResult& d) {
    return result.asio ? "(" + result.asio->sampleType + ")" : PinText(d);
  };
  if (result.play) DirectionText("play " + held(*result.play), *result.play, out);
  if (result.record) DirectionText("record " + held(*result.record), *result.record, out);
  if (result.play) {
    out << "device FIFO         " << result.fifoUnderruns << " underruns, " << result.fifoOverruns
        << " overruns\n";
  }
  if (result.latencyFrames) {
    char ms[32];
    std::snprintf(ms, sizeof(ms), "%.2f", *result.latencyFrames * 1000.0 / request.rate);
    out << "round-trip latency  " << *result.latencyFrames << " frames (" << ms
        << " ms, output looped back to input)\n";
  } else {
    out << "round-trip latency  not measured (a duplex run loops the output back)\n";
  }
  if (result.asio) AsioText(result, out);
  if (result.feedbackRange) {
    char range[64];
    std::snprintf(range, sizeof(range), "%.2f..%.2f", result.feedbackRange->first,
                  result.feedbackRange->second);
    out << "feedback            " << range << " frames/s\n";
  }
  out << "pool allocations    " << result.poolAllocations << " while streaming\n";
  char speed[32];
  std::snprintf(speed, sizeof(speed), "%.1f", result.simSpeed);
  out << "speed               " << speed << " simulated seconds per second\n";
  for (const std::string& note : result.notes) out << "note: " << note << "\n";
}

// Takes the --in file's rate, channels and length into the request; false with the reason when
// the file cannot be played as asked.
bool TakeInputFile(StreamOptions* run, std::string* reason) {
  StreamRequest& request = run->request;
  if (request.directions == StreamDirections::Record) {
    *reason = "--in plays a file: use play or duplex";
    return false;
  }
  auto file = std::make_shared<AudioFile>();
  if (!ReadAudioFile(run->inPath, file.get(), reason)) return false;
  if (run->rateGiven && request.rate != file->rate) {
    *reason = run->inPath + " is " + std::to_string(file->rate) + " Hz, not " +
              std::to_string(request.rate);
    return false;
  }
  if (run->channelsGiven && request.channels != file->channels) {
    *reason = run->inPath + " has " + ChannelCount(file->channels) + ", not " +
              std::to_string(request.channels);
    return false;
  }
  request.rate = file->rate;
  request.channels = file->channels;
  // The file and the buffers behind it, unless asked otherwise.
  if (!run->secondsGiven) request.seconds = static_cast<double>(file->Frames()) / file->rate + 0.2;
  request.input = std::move(file);
  return true;
}

}  // namespace

void AddStreamCommands(CLI::App& program, StreamOptions* options, CLI::App* commands[3]) {
  options->request.device.catalogueName = std::string(sim::devices::kDefaultDeviceName);
  static const char* const kNames[] = {"play", "record", "duplex"};
  static const char* const kAbout[] = {
      "Plays a test signal in which every sample encodes its position through the audio engine "
      "and the driver, and checks what the device received.",
      "Records the device's position signal through the driver and the audio engine, and "
      "checks what the engine received.",
      "Plays and records at once with a cable from the device's output back to its input, "
      "checks both ends and measures the round trip."};
  for (int k = 0; k < 3; ++k) {
    commands[k] = program.add_subcommand(kNames[k], kAbout[k]);
    AddOptions(commands[k], options);
    commands[k]->footer(
        "exit codes: 0 ran, 2 the device, rate or format refused, or bad arguments, 1 the machine "
        "stopped or an --out or --plot file could not be written (the report is printed)\n"
        "examples:\n"
        "  tarnlink " + std::string(kNames[k]) + "\n"
        "  tarnlink " + std::string(kNames[k]) + " --device uac1-speaker --rate 44100 --format pcm16\n"
        "  tarnlink " + std::string(kNames[k]) + " --rate 192000 --seconds 10 --json\n"
        "  tarnlink " + std::string(kNames[k]) + " --path asio --buffer-index 0");
  }
}

// The options one path takes and the other refuses; an empty text when they fit together.
std::string PathMismatch(StreamOptions* run) {
  StreamRequest& request = run->request;
  if (request.path == StreamPath::Os) {
    if (!run->asioOptionsGiven.empty()) return run->asioOptionsGiven[0] + " goes with --path asio";
    if (request.asio.dsd) return "--format dsd goes with --path asio";
    return {};
  }
  if (!run->inPath.empty() || !request.outPath.empty()) return "--in and --out go with --path os";
  if (run->formatGiven && !request.asio.dsd)
    return "the ASIO driver streams in the device's own sample format: with --path asio, "
           "--format takes dsd only";
  if (run->channelsGiven)
    return "the ASIO host opens every channel of the device: --channels goes with --path os";
  if (request.asio.dsd && !run->rateGiven) request.rate = 2822400;
  return {};
}

int RunStream(const StreamOptions& options, std::ostream& out, std::ostream& err) {
  StreamOptions run = options;
  std::string reason = PathMismatch(&run);
  if (!reason.empty()) {
    err << "tarnlink: " << reason << "\n";
    return kExitRefused;
  }
  if (!run.inPath.empty() && !TakeInputFile(&run, &reason)) {
    err << "tarnlink: " << reason << "\n";
    return kExitRefused;
  }
  run.request.deviceName = run.request.device.descriptorsPath.empty()
                               ? run.request.device.catalogueName
                               : run.request.device.descriptorsPath;
  StreamResult result;
  StreamRefusal refusal;
  if (!RunStreamSession(run.request, &result, &refusal)) {
    err << "tarnlink: " << refusal.reason << "\n";
    return refusal.machineStopped ? kExitFailed : kExitRefused;
  }
  if (run.json) {
    out << Json(run, result);
  } else {
    Text(run, result, out);
  }
  for (const std::string& error : result.writeErrors) err << "tarnlink: " << error << "\n";
  return result.writeErrors.empty() ? kExitOk : kExitFailed;
}

}  // namespace tarnlink::tool
