// How fast a whole duplex stream runs: the Tarnlink driver on the simulated machine streams to
// and from the default device through its stream engine, at 48 kHz and at 768 kHz (two
// channels each way), for simulated seconds. The baseline, measured in the same run, is the same
// machine with the device plugged and no stream, where only the bus's frame timer runs. After
// Google Benchmark's report a table gives simulated seconds per CPU second, the stream's CPU
// time per simulated second over the baseline's, and how that time divides between the driver
// (product code), the platform, the simulation and the rest. CPU time is the whole process's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "kernel/host_kernel.h"
#include "code_share.h"
#include "process_cpu_time.h"
#include "sim/machine/machine.h"
#include "usb_audio_adapter.h"
#include "with_format.h"

namespace {

using tarnlink::kernel::HostKernel;

constexpr uint64_t kMs = 10000;  // machine time counts 100 ns units
constexpr uint64_t kSecond = 1000 * kMs;

using tarnlink::engine::testing::PlainSource;
using tarnlink::engine::testing::WithFormat;

// Plays a constant word: the engine's work is the same as for real audio.
class ConstantSource final : public PlainSource {
 public:
  explicit ConstantSource(const UsbFormat& format) : PlainSource(format, true) {}
  ULONG Read(PVOID dst, ULONG frames) override {
    if (dst != nullptr) RtlFillMemory(dst, frames * format_.FrameBytes, 0x11);
    return frames;
  }
};

// Takes captured frames and keeps nothing.
class DiscardingSink final : public WithFormat<ICaptureSink> {
 public:
  VOID Write(PCVOID, ULONG) override {}
  NTSTATUS Prepare(const UsbFormat& usb, ULONG) override {
    format_ = usb;
    return STATUS_SUCCESS;
  }
  VOID Stop() override {}
};

// The machine with the driver loaded and the default device plugged at a fixed rate; with
// `stream`, both directions open and the operating-system user's engine and feed run.
class Rig {
 public:
  Rig(ULONG rate, bool stream) : machine_(kernel_, DriverEntry) {
    // The machine goes first at the end (members in reverse), while source and sink still
    // exist for the engine it stops.
    machine_.PresetHardwareDword(u"SampleRate", rate);
    machine_.LoadDriver();
    machine_.PlugCatalogueDevice("velmor-dac");
    if (!stream) return;
    auto* adapter = static_cast<UsbAudioAdapter*>(
        GetDispatchContext(machine_.FunctionDevice())->Adapter);
    machine_.RunInKernelThread([&] {
      CStreamEngine& engine = adapter->Engine();
      engine.OpenDirection(kDirectionCapture);
      engine.OpenDirection(kDirectionPlayback);
      source_ = std::make_unique<ConstantSource>(engine.UsbFormatOf(kDirectionPlayback));
      engine.PlaybackEngineOf(StreamUser::Os).SetSource(source_.get());
      engine.StartPlaybackEngine(StreamUser::Os);
      engine.CaptureFeedOf(StreamUser::Os).SetTarget(&sink_);
      engine.StartCaptureFeed(StreamUser::Os);
    });
  }
  HostKernel& kernel() { return kernel_; }

 private:
  HostKernel kernel_;
  std::unique_ptr<ConstantSource> source_;
  DiscardingSink sink_;
  sim::machine::Machine machine_;
};

struct Figures {
  double simulatedSeconds = 0;
  double cpuSeconds = 0;
  tarnlink::bench::CodeShares shares;
};
std::map<std::string, Figures> g_figures;
constexpr const char* kBaseline = "baseline: device plugged, no stream";

void RunSimulated(benchmark::State& state, const std::string& name, ULONG rate, bool stream) {
  Rig rig(rate, stream);
  rig.kernel().RunFor(500 * kMs);  // start-up
  Figures& figures = g_figures[name];
  tarnlink::bench::CodeSampler sampler;
  for (auto _ : state) {
    const double before = tarnlink::bench::ProcessCpuSeconds();
    sampler.Resume();
    rig.kernel().RunFor(kSecond);
    sampler.Pause();
    figures.cpuSeconds += tarnlink::bench::ProcessCpuSeconds() - before;
    figures.simulatedSeconds += 1;
  }
  state.counters["sim_s_per_cpu_s"] = figures.simulatedSeconds / figures.cpuSeconds;
  figures.shares = sampler.Shares(TARNLINK_SOURCE_DIR);
}

void BM_Baseline(benchmark::State& state) { RunSimulated(state, kBaseline, 48000, false); }
void BM_Duplex48k(benchmark::State& state) {
  RunSimulated(state, "duplex 48 kHz 2 ch", 48000, true);
}
void BM_Duplex768k(benchmark::State& state) {
  RunSimulated(state, "duplex 768 kHz 2 ch", 768000, true);
}

// Long enough for a few hundred samples of the profiling timer, which ticks with the kernel's
// clock (every 4 ms or so) however short a period it is asked for.
BENCHMARK(BM_Baseline)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Duplex48k)->Unit(benchmark::kMillisecond)->Iterations(600);
BENCHMARK(BM_Duplex768k)->Unit(benchmark::kMillisecond)->Iterations(100);

void PrintTable() {
  const Figures& baseline = g_figures[kBaseline];
  const double baselinePerSecond =
      baseline.simulatedSeconds != 0 ? baseline.cpuSeconds / baseline.simulatedSeconds : 0;
  using tarnlink::bench::CodeArea;
  std::printf("\n%-40s %22s %26s\n", "run", "simulated s per CPU s",
              "CPU per simulated s / base");
  for (const auto& [name, f] : g_figures) {
    if (f.cpuSeconds == 0) continue;
    const double perSecond = f.cpuSeconds / f.simulatedSeconds;
    std::printf("%-40s %22.1f %26.2f\n", name.c_str(), f.simulatedSeconds / f.cpuSeconds,
                baselinePerSecond != 0 ? perSecond / baselinePerSecond : 0.0);
  }
  std::printf("\nshare of CPU time by the code that ran (sampled; inlined header code counts for "
              "the header's folder)\n%-40s %8s",
              "run", "samples");
  for (int area = 0; area < static_cast<int>(CodeArea::Count); ++area) {
    std::printf(" %11s", tarnlink::bench::CodeAreaName(static_cast<CodeArea>(area)));
  }
  std::printf("\n");
  for (const auto& [name, f] : g_figures) {
    std::printf("%-40s %8llu", name.c_str(), static_cast<unsigned long long>(f.shares.samples));
    for (int area = 0; area < static_cast<int>(CodeArea::Count); ++area) {
      std::printf(" %10.1f%%", 100 * f.shares.share[area]);
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
