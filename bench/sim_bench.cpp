// How fast the simulated machine runs: a simulated minute of streaming over the simulated bus in
// each pacing mode (explicit feedback, rate pattern, implicit feedback, capture), with a small
// driver of our own keeping isochronous transfers in flight from their completion routines.
// The baseline, measured in the same run, is a minute in which only the bus's 1 ms frame timer
// fires. The hand-over benchmark measures what one thread switch costs; the share of the
// scheduler is the minute's switches at that cost, over the minute's CPU time. After Google
// Benchmark's own report a table gives simulated seconds per CPU second, the ratio to the
// baseline and the scheduler's share. CPU time is the whole process's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "kernel/host_kernel.h"
#include "kernel_mode.h"
#include "process_cpu_time.h"
#include "sim/devices/catalogue.h"
#include "sim/usb/host_controller.h"
#include "usb/usbdlib.h"

namespace {

using tarnlink::kernel::HostKernel;

constexpr uint64_t kMs = 10000;  // machine time counts 100 ns units
constexpr uint64_t kMinute = 60 * 1000 * kMs;
constexpr ULONG kTag = tarnlink::kernel::PoolTag("SimB");

// One simulated minute's figures.
struct Figures {
  double cpuSeconds = 0;
  uint64_t switches = 0;
};
std::map<std::string, Figures> g_figures;
constexpr const char* kBaseline = "baseline: the bus's frame timer only";
double g_switchSeconds = 0;  // CPU time of one thread switch

// A machine with the controller and one catalogue device, configured through URBs sent from
// the host thread.
class Rig {
 public:
  explicit Rig(const char* deviceName)
      : device_(sim::devices::MakeCatalogueDevice(deviceName)),
        controller_(device_->Spec().speed) {
    controller_.Attach(device_.get());
    ReadAndSelectConfiguration();
  }
  ~Rig() {
    if (config_ != nullptr) ExFreePoolWithTag(config_, kTag);
  }

  HostKernel& kernel() { return kernel_; }
  sim::usb::HostController& controller() { return controller_; }
  bool HighSpeed() const { return controller_.DeviceHighSpeed(); }

  // Audio 2.0: the rate on the clock source that offers it, every selector routed to it.
  void SetClockRate(uint32_t rate) {
    const sim::devices::ClockSourceSpec* source = nullptr;
    for (const sim::devices::EntitySpec& e : device_->Spec().entities) {
      const auto* clock = std::get_if<sim::devices::ClockSourceSpec>(&e);
      if (source == nullptr && clock != nullptr &&
          std::count(clock->rates.begin(), clock->rates.end(), rate) != 0)
        source = clock;
    }
    std::vector<UCHAR> value = Le(rate, 4);
    SetCur(URB_FUNCTION_CLASS_INTERFACE, 0x0100, static_cast<USHORT>(source->bClockID << 8), value);
    for (const sim::devices::EntitySpec& e : device_->Spec().entities) {
      const auto* selector = std::get_if<sim::devices::ClockSelectorSpec>(&e);
      if (selector == nullptr) continue;
      for (size_t pin = 0; pin < selector->baCSourceID.size(); ++pin) {
        if (selector->baCSourceID[pin] != source->bClockID) continue;
        std::vector<UCHAR> choice = {static_cast<UCHAR>(pin + 1)};
        SetCur(URB_FUNCTION_CLASS_INTERFACE, 0, static_cast<USHORT>(selector->bClockID << 8),
               choice);
      }
    }
    kernel_.RunFor(100 * kMs);  // the clock's validity lag
  }
  // Audio 1.0: the endpoint's sampling frequency.
  void SetEndpointRate(UCHAR endpoint, uint32_t rate) {
    std::vector<UCHAR> value = Le(rate, 3);
    SetCur(URB_FUNCTION_CLASS_ENDPOINT, 0x0100, endpoint, value);
  }

  // Selects an alternate setting; returns its pipes.
  std::vector<USBD_PIPE_INFORMATION> Open(UCHAR number, UCHAR alternate) {
    std::vector<UCHAR> storage(GET_SELECT_INTERFACE_REQUEST_SIZE(4), 0);
    auto* urb = reinterpret_cast<PURB>(storage.data());
    UsbBuildSelectInterfaceRequest(urb, static_cast<USHORT>(storage.size()), configHandle_,
                                   number, alternate);
    Run(urb);
    const USBD_INTERFACE_INFORMATION& info = urb->UrbSelectInterface.Interface;
    return {info.Pipes, info.Pipes + info.NumberOfPipes};
  }

 private:
  static std::vector<UCHAR> Le(uint32_t value, size_t bytes) {
    std::vector<UCHAR> out(bytes);
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<UCHAR>(value >> (8 * i));
    return out;
  }

  void Run(PURB urb) {
    bool done = false;
    const auto completed = [](PURB, NTSTATUS, void* context) { *static_cast<bool*>(context) = true; };
    if (controller_.SubmitUrb(urb, completed, &done) == STATUS_PENDING)
      kernel_.RunUntil([&] { return done; });
  }

  void SetCur(USHORT function, USHORT value, USHORT index, std::vector<UCHAR>& data) {
    URB urb{};
    UsbBuildVendorRequest(&urb, function, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 0,
                          0, 1 /* SET_CUR */, value, index, data.data(), nullptr,
                          static_cast<ULONG>(data.size()), nullptr);
    Run(&urb);
  }

  void ReadAndSelectConfiguration() {
    USB_CONFIGURATION_DESCRIPTOR head{};
    ReadConfiguration(&head, sizeof head);
    config_ = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, head.wTotalLength, kTag));
    ReadConfiguration(config_, head.wTotalLength);
    std::vector<USBD_INTERFACE_LIST_ENTRY> list;
    for (LONG n = 0; n < config_->bNumInterfaces; ++n)
      list.push_back(
          {USBD_ParseConfigurationDescriptorEx(config_, config_, n, 0, -1, -1, -1), nullptr});
    list.push_back({});
    PURB urb = USBD_CreateConfigurationRequestEx(config_, list.data());
    Run(urb);
    configHandle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
    ExFreePool(urb);
  }

  void ReadConfiguration(void* buffer, ULONG length) {
    URB urb{};
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, buffer, nullptr, length,
                                 nullptr);
    Run(&urb);
  }

  HostKernel kernel_;
  std::unique_ptr<sim::devices::UacDevice> device_;
  sim::usb::HostController controller_;
  PUSB_CONFIGURATION_DESCRIPTOR config_ = nullptr;
  USBD_CONFIGURATION_HANDLE configHandle_ = nullptr;
};

// Isochronous transfers of 1 ms each on one pipe, refilled and resubmitted from their own
// completion routines; `size` gives each packet's bytes as the transfer is laid out, `done`
// sees each completed transfer.
class IsoStream {
 public:
  using PacketSize = std::function<ULONG(ULONG packet)>;
  using Done = std::function<void(const _URB_ISOCH_TRANSFER&, const UCHAR* buffer)>;

  IsoStream(sim::usb::HostController& controller, const USBD_PIPE_INFORMATION& pipe,
            ULONG packets, ULONG inFlight, PacketSize size, Done done = {})
      : controller_(controller),
        in_((pipe.EndpointAddress & 0x80) != 0),
        size_(std::move(size)),
        done_(std::move(done)) {
    for (ULONG k = 0; k < inFlight; ++k) {
      auto t = std::make_unique<Transfer>();
      t->owner = this;
      t->urb.assign(GET_ISO_URB_SIZE(packets), 0);
      t->buffer.assign(packets * pipe.MaximumPacketSize, 0);
      auto& iso = t->Urb()->UrbIsochronousTransfer;
      iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
      iso.Hdr.Length = static_cast<USHORT>(t->urb.size());
      iso.PipeHandle = pipe.PipeHandle;
      iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP | (in_ ? USBD_TRANSFER_DIRECTION_IN : 0);
      iso.TransferBuffer = t->buffer.data();
      iso.NumberOfPackets = packets;
      transfers_.push_back(std::move(t));
    }
  }

  // From DISPATCH_LEVEL, as a driver starts its stream.
  void Start() {
    for (auto& t : transfers_) Submit(*t);
  }
  void Stop() { stopping_ = true; }
  bool Idle() const { return inFlight_ == 0; }

 private:
  struct Transfer {
    IsoStream* owner = nullptr;
    std::vector<UCHAR> urb;
    std::vector<UCHAR> buffer;
    PURB Urb() { return reinterpret_cast<PURB>(urb.data()); }
  };

  void Submit(Transfer& t) {
    if (stopping_) return;
    auto& iso = t.Urb()->UrbIsochronousTransfer;
    ULONG offset = 0;
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
      iso.IsoPacket[k].Offset = offset;
      offset += in_ ? static_cast<ULONG>(t.buffer.size() / iso.NumberOfPackets) : size_(k);
    }
    iso.TransferBufferLength = offset;
    if (controller_.SubmitUrb(t.Urb(), &Completed, &t) == STATUS_PENDING) ++inFlight_;
  }

  static void Completed(PURB urb, NTSTATUS, void* context) {
    auto& t = *static_cast<Transfer*>(context);
    IsoStream& s = *t.owner;
    --s.inFlight_;
    if (s.done_) s.done_(urb->UrbIsochronousTransfer, t.buffer.data());
    s.Submit(t);
  }

  sim::usb::HostController& controller_;
  bool in_;
  PacketSize size_;
  Done done_;
  std::vector<std::unique_ptr<Transfer>> transfers_;
  int inFlight_ = 0;
  bool stopping_ = false;
};

// Streams for a simulated minute and records what it cost.
void RunMinute(benchmark::State& state, const char* mode, Rig& rig,
               const std::vector<IsoStream*>& streams) {
  const auto atDispatch = [&](const std::function<void()>& body) {
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    body();
    KeLowerIrql(irql);
  };
  atDispatch([&] {
    for (IsoStream* s : streams) s->Start();
  });
  rig.kernel().RunFor(1000 * kMs);  // start-up, not measured
  const uint64_t switches = rig.kernel().ThreadSwitches();
  const double start = tarnlink::bench::ProcessCpuSeconds();
  rig.kernel().RunFor(kMinute);
  Figures& figures = g_figures[mode];
  figures.cpuSeconds = tarnlink::bench::ProcessCpuSeconds() - start;
  figures.switches = rig.kernel().ThreadSwitches() - switches;
  state.SetIterationTime(figures.cpuSeconds);
  atDispatch([&] {
    for (IsoStream* s : streams) s->Stop();
  });
  rig.kernel().RunUntil([&] {
    return std::all_of(streams.begin(), streams.end(), [](IsoStream* s) { return s->Idle(); });
  });
}

// The bus's frame timer alone.
void BM_BusBaseline(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig("velmor-dac");
    KTIMER timer;
    KDPC dpc;
    KeInitializeTimer(&timer);
    KeInitializeDpc(
        &dpc,
        [](PKDPC, PVOID context, PVOID, PVOID) {
          benchmark::DoNotOptimize(static_cast<sim::usb::HostController*>(context)->CurrentFrame());
        },
        &rig.controller());
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(kMs);
    KeSetTimerEx(&timer, due, 1, &dpc);
    RunMinute(state, kBaseline, rig, {});
    KeCancelTimer(&timer);
  }
}

// Asynchronous playback sized by the explicit feedback read beside it (48 kHz, 2 x 32 bits).
void BM_ExplicitFeedback(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig("velmor-dac");
    rig.SetClockRate(48000);
    const std::vector<USBD_PIPE_INFORMATION> pipes = rig.Open(1, 3);
    uint32_t feedback = 6u << 16, accumulator = 0;  // frames per microframe, 16.16
    IsoStream playback(rig.controller(), pipes[0], 8, 2, [&](ULONG) {
      accumulator += feedback;
      const ULONG frames = accumulator >> 16;
      accumulator &= 0xFFFF;
      return frames * 8;
    });
    IsoStream reads(rig.controller(), pipes[1], 4, 1, nullptr,
                    [&](const _URB_ISOCH_TRANSFER& iso, const UCHAR* buffer) {
                      for (ULONG k = 0; k < iso.NumberOfPackets; ++k)
                        if (iso.IsoPacket[k].Length == 4)
                          std::memcpy(&feedback, buffer + iso.IsoPacket[k].Offset, 4);
                    });
    RunMinute(state, "explicit feedback, 48 kHz", rig, {&playback, &reads});
  }
}

// Adaptive Audio 1.0 playback at 44.1 kHz: nine 44-frame packets and one of 45 per 10 ms.
void BM_RatePattern(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig("uac1-speaker");
    const std::vector<USBD_PIPE_INFORMATION> pipes = rig.Open(1, 1);
    rig.SetEndpointRate(pipes[0].EndpointAddress, 44100);
    ULONG packet = 0;
    IsoStream playback(rig.controller(), pipes[0], 1, 4,
                       [&](ULONG) { return (++packet % 10 == 0 ? 45u : 44u) * 4; });
    RunMinute(state, "rate pattern, 44.1 kHz", rig, {&playback});
  }
}

// Playback whose packets carry as many frames as the capture packets beside it did.
void BM_ImplicitFeedback(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig("uac2-implicit");
    rig.SetClockRate(48000);
    const std::vector<USBD_PIPE_INFORMATION> out = rig.Open(1, 1);
    const std::vector<USBD_PIPE_INFORMATION> in = rig.Open(2, 1);
    std::vector<ULONG> sizes(8, 6 * 8);
    IsoStream playback(rig.controller(), out[0], 8, 2, [&](ULONG k) { return sizes[k]; });
    IsoStream capture(rig.controller(), in[0], 8, 2, nullptr,
                      [&](const _URB_ISOCH_TRANSFER& iso, const UCHAR*) {
                        for (ULONG k = 0; k < iso.NumberOfPackets && k < sizes.size(); ++k)
                          sizes[k] = iso.IsoPacket[k].Length;
                      });
    RunMinute(state, "implicit feedback, 48 kHz", rig, {&capture, &playback});
  }
}

// Stereo capture at 48 kHz, 32-bit subslots.
void BM_Capture(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig("velmor-dac");
    rig.SetClockRate(48000);
    const std::vector<USBD_PIPE_INFORMATION> pipes = rig.Open(2, 3);
    IsoStream capture(rig.controller(), pipes[0], 8, 2, nullptr);
    RunMinute(state, "capture, 48 kHz", rig, {&capture});
  }
}

// Two threads handing the processor to each other through synchronisation events.
void BM_HandOver(benchmark::State& state) {
  constexpr int kRounds = 100000;
  for (auto _ : state) {
    HostKernel kernel;
    KEVENT ping, pong;
    KeInitializeEvent(&ping, SynchronizationEvent, FALSE);
    KeInitializeEvent(&pong, SynchronizationEvent, FALSE);
    const auto player = [&](PKEVENT mine, PKEVENT other, bool serves) {
      for (int i = 0; i < kRounds; ++i) {
        if (serves) KeSetEvent(other, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(mine, Executive, KernelMode, FALSE, nullptr);
        if (!serves) KeSetEvent(other, IO_NO_INCREMENT, FALSE);
      }
    };
    PKTHREAD a = kernel.StartThread([&] { player(&ping, &pong, true); });
    PKTHREAD b = kernel.StartThread([&] { player(&pong, &ping, false); });
    const uint64_t switches = kernel.ThreadSwitches();
    const double start = tarnlink::bench::ProcessCpuSeconds();
    kernel.RunUntilThreadsEnd({a, b});
    const double seconds = tarnlink::bench::ProcessCpuSeconds() - start;
    g_switchSeconds = seconds / static_cast<double>(kernel.ThreadSwitches() - switches);
    state.SetIterationTime(seconds);
  }
}

BENCHMARK(BM_HandOver)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BusBaseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ExplicitFeedback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_RatePattern)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ImplicitFeedback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Capture)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

void PrintSummary() {
  const auto baseline = g_figures.find(kBaseline);
  if (g_switchSeconds > 0) std::printf("\none thread switch: %.0f ns of CPU\n", g_switchSeconds * 1e9);
  std::printf("%-50s %14s %12s %10s\n", "one simulated minute", "sim s / CPU s", "vs baseline",
              "scheduler");
  for (const auto& [name, f] : g_figures) {
    const double rate = 60.0 / f.cpuSeconds;
    const double ratio =
        baseline != g_figures.end() ? f.cpuSeconds / baseline->second.cpuSeconds : 0;
    const double share = g_switchSeconds * static_cast<double>(f.switches) / f.cpuSeconds;
    std::printf("%-50s %14.0f %12.2f %9.1f%%\n", name.c_str(), rate, ratio, share * 100);
  }
  std::printf("(vs baseline: CPU time over the baseline's; scheduler: switches x their cost)\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();
  return 0;
}
