// The sample converters against memcpy of the same destination bytes and against the peer
// converters of libsamplerate, at 1 ms and 8 ms blocks of 48 kHz audio, 2 and 8 channels.
// After Google Benchmark's own report it prints frames per second and both ratios per case
// (time of the converter / time of the baseline: below 1 is faster).
#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sample_converter.h"

namespace {

enum class Op { Mix, Copy };

struct Format {
  const char* name;
  uint16_t tag;
  uint32_t bits;
};
constexpr Format kPcm16{"s16", ConverterTagPcm, 16};
constexpr Format kPcm24{"s24", ConverterTagPcm, 24};
constexpr Format kPcm32{"s32", ConverterTagPcm, 32};
constexpr Format kFloat{"f32", ConverterTagIeeeFloat, 32};

constexpr uint32_t kChannelCounts[] = {2, 8};
constexpr uint32_t kBlockFrames[] = {48, 384};  // 1 ms and 8 ms at 48 kHz

// Full-scale audio in the source's format: floats within +-1.0, integers over their range.
std::vector<uint8_t> Signal(const Format& format, size_t samples) {
  std::mt19937 random(12345);
  std::vector<uint8_t> bytes(samples * format.bits / 8);
  if (format.tag == ConverterTagIeeeFloat) {
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    for (size_t i = 0; i < samples; ++i) {
      const float f = level(random);
      std::memcpy(&bytes[i * 4], &f, 4);
    }
  } else {
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
  }
  return bytes;
}

std::string Shape(uint32_t channels, uint32_t frames) {
  return "/" + std::to_string(channels) + "ch/" + std::to_string(frames) + "f";
}

std::string ConverterName(Op op, const Format& src, const Format& dst, uint32_t channels,
                          uint32_t frames) {
  return std::string(op == Op::Mix ? "mix/" : "copy/") + src.name + ">" + dst.name +
         Shape(channels, frames);
}

std::string MemcpyName(size_t bytes) {
  return "memcpy/" + std::to_string(bytes) + "B";
}

std::string PeerName(const Format& src, const Format& dst, uint32_t channels, uint32_t frames) {
  return std::string("libsamplerate/") + src.name + ">" + dst.name + Shape(channels, frames);
}

// What the summary needs to know about each converter case.
struct CaseInfo {
  std::string name;
  uint32_t frames;
  std::string memcpyName;
  std::string peerName;  // empty without a peer
};
std::vector<CaseInfo> g_cases;
std::map<std::string, bool> g_registered;

void RegisterMemcpy(size_t bytes) {
  const std::string name = MemcpyName(bytes);
  if (g_registered[name]) return;
  g_registered[name] = true;
  benchmark::RegisterBenchmark(name.c_str(), [bytes](benchmark::State& state) {
    std::vector<uint8_t> src(bytes, 0x5A);
    std::vector<uint8_t> dst(bytes);
    for (auto _ : state) {
      std::memcpy(dst.data(), src.data(), bytes);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
  })->MinTime(0.1);
}

void RegisterConverter(Op op, const Format& src, const Format& dst, uint32_t channels,
                       uint32_t frames, std::string peerName) {
  const std::string name = ConverterName(op, src, dst, channels, frames);
  const size_t dstBytes = size_t{frames} * channels * dst.bits / 8;
  RegisterMemcpy(dstBytes);
  g_cases.push_back({name, frames, MemcpyName(dstBytes), std::move(peerName)});
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
    const ConverterFormat from{ConverterStreamKindPcm, src.tag, src.bits, channels};
    const ConverterFormat to{ConverterStreamKindPcm, dst.tag, dst.bits, channels};
    SampleConverter converter;
    // The USB side picks the domain: the destination when rendering, the source when capturing.
    const uint16_t domainTag = op == Op::Mix ? dst.tag : src.tag;
    if (!NT_SUCCESS(SelectConverter(&converter, domainTag, &from, &to))) {
      state.SkipWithError("no converter");
      return;
    }
    const std::vector<uint8_t> input = Signal(src, size_t{frames} * channels);
    std::vector<uint8_t> output(dstBytes);
    for (auto _ : state) {
      // A render mix adds into what the packet holds; clearing it each time would measure a
      // memset too, and the saturating sum costs the same whatever the level.
      if (op == Op::Mix) {
        Mix(&converter, output.data(), input.data(), frames);
      } else {
        Copy(&converter, output.data(), input.data(), frames);
      }
      benchmark::DoNotOptimize(output.data());
      benchmark::ClobberMemory();
    }
  })->MinTime(0.1);
}

template <typename In, typename Out>
void RegisterPeer(const Format& src, const Format& dst, uint32_t channels, uint32_t frames,
                  void (*convert)(const In*, Out*, int)) {
  const size_t samples = size_t{frames} * channels;
  benchmark::RegisterBenchmark(PeerName(src, dst, channels, frames).c_str(),
                               [=](benchmark::State& state) {
                                 const std::vector<uint8_t> input = Signal(src, samples);
                                 std::vector<In> in(samples);
                                 std::memcpy(in.data(), input.data(), input.size());
                                 std::vector<Out> out(samples);
                                 for (auto _ : state) {
                                   convert(in.data(), out.data(), static_cast<int>(samples));
                                   benchmark::DoNotOptimize(out.data());
                                   benchmark::ClobberMemory();
                                 }
                               })
      ->MinTime(0.1);
}

// Our copy and the peer's converter of the same formats, on the same signal.
template <typename In, typename Out>
void RegisterWithPeer(const Format& src, const Format& dst, uint32_t channels, uint32_t frames,
                      void (*convert)(const In*, Out*, int)) {
  RegisterConverter(Op::Copy, src, dst, channels, frames, PeerName(src, dst, channels, frames));
  RegisterPeer(src, dst, channels, frames, convert);
}

void RegisterAll() {
  for (const uint32_t channels : kChannelCounts) {
    for (const uint32_t frames : kBlockFrames) {
      // Render: the operating system's formats mixed into the USB packet formats.
      for (const Format& usb : {kPcm24, kPcm32})
        for (const Format& os : {kFloat, kPcm16, kPcm24, kPcm32})
          RegisterConverter(Op::Mix, os, usb, channels, frames, "");
      // Capture: the USB packet formats copied into the operating system's formats.
      for (const Format& usb : {kPcm24, kPcm32})
        for (const Format& os : {kFloat, kPcm16, kPcm24, kPcm32})
          RegisterConverter(Op::Copy, usb, os, channels, frames, "");
      // The conversions libsamplerate also has.
      RegisterWithPeer(kFloat, kPcm16, channels, frames, &src_float_to_short_array);
      RegisterWithPeer(kPcm16, kFloat, channels, frames, &src_short_to_float_array);
      RegisterWithPeer(kFloat, kPcm32, channels, frames, &src_float_to_int_array);
      RegisterWithPeer(kPcm32, kFloat, channels, frames, &src_int_to_float_array);
    }
  }
}

// Keeps Google Benchmark's console output and remembers the seconds per iteration of each run.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.iterations > 0 && !run.error_occurred)
        seconds_[run.run_name.function_name] = run.real_accumulated_time / run.iterations;
  }

  void PrintSummary() const {
    std::printf("\n%-28s %14s %10s %10s\n", "converter", "frames/s", "x memcpy", "x peer");
    for (const CaseInfo& c : g_cases) {
      const double t = Seconds(c.name);
      const double base = Seconds(c.memcpyName);
      if (t <= 0) continue;
      std::printf("%-28s %14.4g %10.2f", c.name.c_str(), c.frames / t, base > 0 ? t / base : 0.0);
      const double peer = c.peerName.empty() ? 0 : Seconds(c.peerName);
      if (peer > 0) std::printf(" %10.2f", t / peer);
      std::printf("\n");
    }
  }

 private:
  double Seconds(const std::string& name) const {
    auto it = seconds_.find(name);
    return it == seconds_.end() ? 0 : it->second;
  }

  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
