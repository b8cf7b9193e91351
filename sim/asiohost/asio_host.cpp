#include "sim/asiohost/asio_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "kernel/ke.h"
#include "kernel/ob_host.h"
#include "kernel/ps.h"
#include "kernel/ps_process.h"
#include "sim/asiohost/driver_list.h"

namespace sim::asiohost {
namespace {

using Kind = HostStep::Kind;

constexpr DWORD kSwitchWaitMs = 10000;     // for switches that should come at once
constexpr DWORD kStopInSwitchWaitMs = 15000;  // a driver may wait 10 s for its thread

// The callbacks carry no context: as a real host keeps one driver per process, the host is
// found by the process its callbacks run in.
std::mutex g_hostsLock;
std::map<PEPROCESS, AsioHost*> g_hosts;

AsioHost* HostOfThisProcess() {
  std::lock_guard guard(g_hostsLock);
  auto it = g_hosts.find(PsGetCurrentProcess());
  return it != g_hosts.end() ? it->second : nullptr;
}

void BufferSwitch(LONG half, ASIOBool) {
  if (AsioHost* host = HostOfThisProcess()) host->OnBufferSwitch(half, nullptr);
}
ASIOTime* BufferSwitchTimeInfo(ASIOTime* time, LONG half, ASIOBool) {
  if (AsioHost* host = HostOfThisProcess()) host->OnBufferSwitch(half, time);
  return nullptr;
}
void SampleRateDidChange(ASIOSampleRate rate) {
  if (AsioHost* host = HostOfThisProcess()) host->OnRateChange(rate);
}
LONG AsioMessage(LONG selector, LONG value, void*, double*) {
  AsioHost* host = HostOfThisProcess();
  return host != nullptr ? host->OnMessage(selector, value) : 0;
}
ASIOCallbacks g_callbacks = {BufferSwitch, SampleRateDidChange, AsioMessage, BufferSwitchTimeInfo};

std::string Narrow(std::u16string_view text) {
  std::string narrow;
  for (char16_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

devices::SampleLayout WithBits(devices::SampleLayout layout, unsigned bits) {
  if (bits != 0 && bits < layout.bitResolution) layout.bitResolution = static_cast<uint8_t>(bits);
  return layout;
}

// What each step gives when all is well; steps without one are only checked on request.
std::optional<LONG> Usual(Kind kind) {
  switch (kind) {
    case Kind::Load:
      return S_OK;
    case Kind::Init:
      return ASIOTrue;
    case Kind::CreateBuffers:
    case Kind::Start:
    case Kind::Stop:
    case Kind::StopInSwitch:
    case Kind::Dispose:
    case Kind::WaitSwitches:
    case Kind::ControlPanel:
      return ASE_OK;
    case Kind::Release:
      return 0;  // references left
    default:
      return std::nullopt;
  }
}

}  // namespace

AsioHost::AsioHost(HostScript script, HostSettings settings)
    : script_(std::move(script)), settings_(std::move(settings)) {}

AsioHost::~AsioHost() {
  std::lock_guard guard(g_hostsLock);
  std::erase_if(g_hosts, [this](const auto& entry) { return entry.second == this; });
}

PKTHREAD AsioHost::Start(tarnlink::kernel::HostKernel& kernel) {
  return kernel.StartThread(
      [this] {
        PEPROCESS previous = PsGetCurrentProcess();
        if (!NT_SUCCESS(PsHostCreateProcess("asiohost.exe", &process_))) {
          report_.failures.push_back("the host's process could not be created");
          report_.finished = true;
          return;
        }
        PsHostSetThreadProcess(KeGetCurrentThread(), process_);
        {
          std::lock_guard guard(g_hostsLock);
          g_hosts[process_] = this;
        }
        Main();
        {
          std::lock_guard guard(g_hostsLock);
          g_hosts.erase(process_);
        }
        PsHostSetThreadProcess(KeGetCurrentThread(), previous);
        PsHostTerminateProcess(process_);
        ObDereferenceObject(process_);
        process_ = nullptr;
        report_.finished = true;
      },
      "asio host");
}

void AsioHost::Main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  resetEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  quitEvent_ = CreateEventW(nullptr, TRUE, FALSE, QuitEventName().c_str());
  for (const HostStep& step : script_.steps) {
    if (!Perform(step)) break;
  }
  CountMissedPeriods();
  // A host that quits still holding the driver lets it go, as its process would.
  if (driver_ != nullptr) Note(0, "release at exit", static_cast<LONG>(Release()));
  CloseHandle(resetEvent_);
  CloseHandle(quitEvent_);
  CoUninitialize();
}

void AsioHost::Note(int line, const std::string& what, LONG result) {
  report_.log.push_back((line != 0 ? "line " + std::to_string(line) + ": " : std::string()) +
                        what + " " + ResultName(result));
}

void AsioHost::Record(const HostStep& step, LONG result) {
  Note(step.line, StepName(step.kind), result);
  const std::optional<LONG> wanted = step.expected ? step.expected : Usual(step.kind);
  if (wanted && *wanted != result) {
    report_.failures.push_back("line " + std::to_string(step.line) + ": " +
                               StepName(step.kind) + " gave " + ResultName(result) +
                               ", not " + ResultName(*wanted));
  }
}

bool AsioHost::Perform(const HostStep& step) {
  if (step.kind != Kind::Load && step.kind != Kind::Enumerate && driver_ == nullptr) {
    report_.failures.push_back("line " + std::to_string(step.line) + ": " +
                               StepName(step.kind) + " without a driver");
    return false;
  }
  LONG result = ASE_OK;
  switch (step.kind) {
    case Kind::Enumerate:
      Enumerate();
      break;
    case Kind::Load:
      result = Load();
      break;
    case Kind::Init:
      result = Init();
      break;
    case Kind::Query:
      result = Query();
      break;
    case Kind::OutputReady:
      result = driver_->outputReady();
      break;
    case Kind::CreateBuffers:
      result = CreateBuffers(step.dummy);
      break;
    case Kind::Start:
      result = Start();
      break;
    case Kind::SetRate:
      CountMissedPeriods();  // the periods so far ran at the old rate
      result = driver_->setSampleRate(step.number != 0 ? step.number : report_.sampleRate);
      if (result == ASE_OK && step.number != 0) report_.sampleRate = step.number;
      break;
    case Kind::ControlPanel:
      result = driver_->controlPanel();
      break;
    case Kind::WaitSwitches:
      result = WaitSwitches(static_cast<uint64_t>(step.number));
      break;
    case Kind::Run:
      RunFor(step.number != 0 ? step.number : settings_.runMs);
      break;
    case Kind::Stop:
      result = driver_->stop();
      CountMissedPeriods();
      break;
    case Kind::StopInSwitch:
      result = StopInSwitch();
      break;
    case Kind::Dispose:
      result = Dispose();
      break;
    case Kind::Release:
      result = Release();
      break;
  }
  if (step.kind != Kind::Enumerate && step.kind != Kind::Run) Record(step, result);
  // Without a driver object there is nothing left to call.
  return !(step.kind == Kind::Load && driver_ == nullptr);
}

LONG AsioHost::Load() {
  if (driver_ != nullptr) Release();
  const std::vector<AsioDriverEntry> drivers = ListAsioDrivers();
  auto it = std::find_if(drivers.begin(), drivers.end(), [&](const AsioDriverEntry& entry) {
    return settings_.driverName.empty() || entry.name == settings_.driverName;
  });
  if (it == drivers.end()) return REGDB_E_CLASSNOTREG;
  report_.driverName = Narrow(it->name);
  void* object = nullptr;
  const HRESULT result =
      CoCreateInstance(it->clsid, nullptr, CLSCTX_INPROC_SERVER, it->clsid, &object);
  if (SUCCEEDED(result)) driver_ = static_cast<IASIO*>(object);
  return result;
}

LONG AsioHost::Init() {
  const ASIOBool initialised = driver_->init(nullptr);
  if (!initialised) {
    char text[124] = {};
    driver_->getErrorMessage(text);
    report_.log.push_back(std::string("  error message: ") + text);
    return initialised;
  }
  if (settings_.dsd) {
    ASIOIoFormat format = {};
    format.FormatType = kASIODSDFormat;
    const LONG result = driver_->future(kAsioSetIoFormat, &format);
    Note(0, "future(kAsioSetIoFormat, DSD)", result);
    if (result != ASE_SUCCESS) report_.failures.push_back("the driver refused the DSD format");
  }
  if (settings_.rate != 0) {
    const LONG result = driver_->setSampleRate(settings_.rate);
    Note(0, "setSampleRate(" + std::to_string(static_cast<long long>(settings_.rate)) + ")",
         result);
    if (result == ASE_OK) report_.sampleRate = settings_.rate;
    if (result != ASE_OK) report_.failures.push_back("the driver refused the rate");
  }
  return initialised;
}

LONG AsioHost::Query() {
  char name[32] = {};
  driver_->getDriverName(name);
  report_.log.push_back(std::string("  driver name: ") + name);
  const LONG channels = driver_->getChannels(&report_.inputs, &report_.outputs);
  driver_->getBufferSize(&report_.minSize, &report_.maxSize, &report_.preferredSize,
                         &report_.granularity);
  driver_->getSampleRate(&report_.sampleRate);
  driver_->getLatencies(&report_.inputLatency, &report_.outputLatency);
  for (LONG input = 0; input < 2; ++input) {
    for (LONG c = 0; c < (input ? report_.inputs : report_.outputs); ++c) {
      ASIOChannelInfo info = {};
      info.channel = c;
      info.isInput = input;
      if (driver_->getChannelInfo(&info) == ASE_OK) report_.sampleType = info.type;
    }
  }
  driver_->canSampleRate(report_.sampleRate);
  return channels;
}

LONG AsioHost::CreateBuffers(bool dummy) {
  if (report_.preferredSize == 0) {
    driver_->getChannels(&report_.inputs, &report_.outputs);
    driver_->getBufferSize(&report_.minSize, &report_.maxSize, &report_.preferredSize,
                           &report_.granularity);
  }
  // Once the driver asked for a reset the host takes the size it now prefers, as hosts do.
  const LONG size = settings_.bufferFrames != 0 && report_.resetRequests == 0
                        ? settings_.bufferFrames
                        : report_.preferredSize;
  std::vector<ASIOBufferInfo> infos;
  if (dummy) {
    infos.push_back({report_.outputs > 0 ? ASIOFalse : ASIOTrue, 0, {nullptr, nullptr}});
  } else {
    for (LONG c = 0; settings_.openInputs && c < report_.inputs; ++c)
      infos.push_back({ASIOTrue, c, {nullptr, nullptr}});
    for (LONG c = 0; settings_.openOutputs && c < report_.outputs; ++c)
      infos.push_back({ASIOFalse, c, {nullptr, nullptr}});
  }
  const LONG result =
      driver_->createBuffers(infos.data(), static_cast<LONG>(infos.size()), size, &g_callbacks);
  if (result != ASE_OK || infos.empty()) return result;
  ASIOChannelInfo info = {};
  info.channel = infos[0].channelNum;
  info.isInput = infos[0].isInput;
  driver_->getChannelInfo(&info);
  bufferType_ = report_.sampleType = info.type;
  typeLayout_ = LayoutOfType(info.type);
  if (typeLayout_.subslotBytes == 0)
    report_.failures.push_back("the host cannot play sample type " + std::to_string(info.type));
  BufferSegment segment;
  segment.bufferSize = size;
  segment.firstOutputFrame = report_.framesPlayed;
  report_.segments.push_back(segment);
  driver_->getLatencies(&report_.inputLatency, &report_.outputLatency);
  buffers_ = infos;
  bufferSize_ = size;
  layoutsPending_ = true;
  buffersReady_ = typeLayout_.subslotBytes != 0;
  return result;
}

void AsioHost::ResolveLayouts() {
  layoutsPending_ = false;
  const auto kept = [&](bool input) {
    return WithBits(typeLayout_, settings_.keptBits ? settings_.keptBits(input) : 0);
  };
  outputLayout_ = kept(false);
  report_.segments.back().outputLayout = outputLayout_;
  inputChecks_.clear();
  for (const ASIOBufferInfo& b : buffers_) {
    if (b.isInput) inputChecks_.emplace_back(b.channelNum, kept(true));
  }
}

void AsioHost::CloseSegment() {
  buffersReady_ = false;
  if (!buffers_.empty() && !report_.segments.empty()) {
    for (const InputCheck& check : inputChecks_) {
      report_.segments.back().inputs.push_back(check.Result());
      report_.segments.back().firstInputFrames.push_back(check.FirstFrame());
    }
  }
  buffers_.clear();
  inputChecks_.clear();
}

LONG AsioHost::Dispose() {
  buffersReady_ = false;
  const LONG result = driver_->disposeBuffers();
  CloseSegment();
  return result;
}

// Releasing without disposing is allowed: the driver tears down from any state.
LONG AsioHost::Release() {
  CloseSegment();
  const ULONG left = driver_->Release();
  driver_ = nullptr;
  return static_cast<LONG>(left);
}

void AsioHost::Enumerate() {
  for (const AsioDriverEntry& entry : ListAsioDrivers()) {
    void* object = nullptr;
    const HRESULT created =
        CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, entry.clsid, &object);
    Note(0, "create " + Narrow(entry.name), created);
    if (FAILED(created)) continue;
    auto* driver = static_cast<IASIO*>(object);
    const ASIOBool initialised = driver->init(nullptr);
    Note(0, "init", initialised);
    char name[32] = {};
    driver->getDriverName(name);
    report_.enumerated.push_back(name);
    Note(0, "release", static_cast<LONG>(driver->Release()));
  }
}

// A started stream hands half 0 first and counts its position afresh.
LONG AsioHost::Start() {
  CountMissedPeriods();
  lastHalf_ = -1;
  positionKnown_ = false;
  return driver_->start();
}

void AsioHost::CountMissedPeriods() {
  if (runSwitches_ > 1 && bufferSize_ > 0 && report_.sampleRate > 0) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double seconds =
        static_cast<double>(runLastSwitch_ - runFirstSwitch_) / static_cast<double>(frequency.QuadPart);
    const auto periods = static_cast<uint64_t>(seconds * report_.sampleRate / bufferSize_);
    if (periods > runSwitches_ - 1) report_.missedPeriods += periods - (runSwitches_ - 1);
  }
  runSwitches_ = 0;
}

LONG AsioHost::WaitSwitches(uint64_t count) {
  const uint64_t target = report_.switches + count;
  const ULONGLONG deadline = GetTickCount64() + kSwitchWaitMs;
  while (report_.switches < target) {
    if (GetTickCount64() >= deadline) return ASE_SPNotAdvancing;
    Sleep(1);
  }
  return ASE_OK;
}

LONG AsioHost::StopInSwitch() {
  stoppedInSwitch_ = false;
  stopInSwitch_ = true;
  const ULONGLONG deadline = GetTickCount64() + kStopInSwitchWaitMs;
  while (!stoppedInSwitch_) {
    if (GetTickCount64() >= deadline) {
      stopInSwitch_ = false;
      return ASE_SPNotAdvancing;
    }
    Sleep(1);
  }
  return stopInSwitchResult_;
}

void AsioHost::RunFor(double ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  const HANDLE events[] = {resetEvent_, quitEvent_};
  for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
    const DWORD woken =
        WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(deadline - now));
    if (woken == WAIT_OBJECT_0) ServeReset();
    if (woken == WAIT_OBJECT_0 + 1) return;
  }
}

void AsioHost::Quit() {
  HANDLE quit = OpenEventW(EVENT_MODIFY_STATE, FALSE, QuitEventName().c_str());
  if (quit == nullptr) return;
  SetEvent(quit);
  CloseHandle(quit);
}

std::u16string AsioHost::QuitEventName() const {
  char name[48];
  std::snprintf(name, sizeof name, "asiohost-quit-%p", static_cast<const void*>(this));
  return std::u16string(name, name + std::strlen(name));
}

// What hosts do with a reset request: on their own thread, after the callback returned.
void AsioHost::ServeReset() {
  if (script_.onReset == ResetReaction::Ignore || driver_ == nullptr) return;
  auto step = [&](const char* what, LONG result, LONG wanted) {
    Note(0, std::string("reset: ") + what, result);
    if (result != wanted)
      report_.failures.push_back(std::string("reset: ") + what + " gave " + ResultName(result));
  };
  step("stop", driver_->stop(), ASE_OK);
  CountMissedPeriods();
  step("dispose", Dispose(), ASE_OK);
  if (script_.onReset == ResetReaction::Recreate) {
    step("release", Release(), 0);
    step("load", Load(), S_OK);
    if (driver_ == nullptr) return;
    step("init", driver_->init(nullptr), ASIOTrue);
    report_.preferredSize = 0;  // asked again of the new object
  } else {
    report_.preferredSize = 0;  // the control panel may have changed it
  }
  step("create-buffers", CreateBuffers(false), ASE_OK);
  step("start", Start(), ASE_OK);
}

void AsioHost::OnBufferSwitch(LONG half, ASIOTime* time) {
  ++report_.switches;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (runSwitches_++ == 0) runFirstSwitch_ = now.QuadPart;
  runLastSwitch_ = now.QuadPart;
  if (time != nullptr) {
    ++report_.timeInfoSwitches;
    if ((time->timeInfo.flags & kSamplePositionValid) != 0) {
      const uint64_t position = uint64_t{time->timeInfo.samplePosition.hi} << 32 |
                                time->timeInfo.samplePosition.lo;
      if (positionKnown_ && position != lastPosition_ + static_cast<uint64_t>(bufferSize_))
        ++report_.positionErrors;
      lastPosition_ = position;
      positionKnown_ = true;
    }
  }
  if ((half != 0 && half != 1) || half == lastHalf_) ++report_.halfOrderErrors;
  lastHalf_ = half;
  if (!buffersReady_ || (half != 0 && half != 1)) return;
  if (layoutsPending_) ResolveLayouts();
  const ULONG units = UnitsPerHalf(bufferType_, bufferSize_);
  size_t input = 0;
  for (const ASIOBufferInfo& b : buffers_) {
    if (b.isInput) {
      inputChecks_[input++].Take(b.buffers[half], units);
    } else {
      WriteSignal(b.buffers[half], units, report_.framesPlayed, static_cast<unsigned>(b.channelNum),
                  outputLayout_);
    }
  }
  report_.framesPlayed += units;
  if (script_.callsOutputReady) driver_->outputReady();
  if (stopInSwitch_.exchange(false)) {
    stopInSwitchResult_ = driver_->stop();
    stoppedInSwitch_ = true;
  }
}

LONG AsioHost::OnMessage(LONG selector, LONG value) {
  switch (selector) {
    case kAsioSelectorSupported:
      return value == kAsioEngineVersion || value == kAsioResetRequest ||
                     value == kAsioResyncRequest || value == kAsioLatenciesChanged ||
                     value == kAsioSupportsTimeInfo
                 ? 1
                 : 0;
    case kAsioEngineVersion:
      return script_.engineVersion;
    case kAsioResetRequest:
      ++report_.resetRequests;
      SetEvent(resetEvent_);
      return 1;
    case kAsioResyncRequest:
      ++report_.resyncRequests;
      return 1;
    case kAsioLatenciesChanged:
      ++report_.latencyChanges;
      return 1;
    case kAsioSupportsTimeInfo:
      return script_.timeInfo ? 1 : 0;
    default:
      return 0;
  }
}

void AsioHost::OnRateChange(ASIOSampleRate rate) {
  CountMissedPeriods();
  ++report_.rateChanges;
  report_.sampleRate = rate;
}

}  // namespace sim::asiohost
