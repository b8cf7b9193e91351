#include "private_requests.h"

#include <algorithm>
#include <cstring>

#include "asio_protocol.h"
#include "client_run.h"
#include "kernel/ps_process.h"
#include "portcls/portcls.h"
#include "user_mode.h"

namespace tarnlink::fuzz {
namespace {

constexpr const char* kDevices[] = {"velmor-dac", "uac2-playback-only"};

constexpr ULONG kCodes[] = {
    IOCTL_ASIO_GET_RATE_RANGE,       IOCTL_ASIO_QUERY_FORMATS,      IOCTL_ASIO_GET_FIXED_RATE,
    IOCTL_ASIO_SET_RATE,             IOCTL_ASIO_GET_DSD_NATIVE,     IOCTL_ASIO_GET_PRODUCT_STRING,
    IOCTL_ASIO_GET_BUS_SPEED,        IOCTL_ASIO_ACQUIRE,            IOCTL_ASIO_PREPARE,
    IOCTL_ASIO_START,                IOCTL_ASIO_STOP,               IOCTL_ASIO_UNPREPARE,
    IOCTL_ASIO_RELEASE,              IOCTL_ASIO_GET_CAPTURE_PERIOD_MS, IOCTL_ASIO_NOP,
    IOCTL_ASIO_GET_INTERRUPTED,      IOCTL_ASIO_ARM,                IOCTL_ASIO_GET_START_TIME,
    IOCTL_ASIO_SET_START_TIME,       IOCTL_ASIO_FAIL_NEXT_CAPTURE,  IOCTL_ASIO_FAIL_NEXT_PLAYBACK,
    IOCTL_ASIO_SET_LATENCY_OVERRIDE, IOCTL_ASIO_SET_PREFILL_OVERRIDE};

constexpr ULONG kLongestBuffer = 4096;
constexpr uint8_t kMostMilliseconds = 50;

class Client {
 public:
  Client(const std::u16string& path, ClientScript* script, PrivateRequestsOutcome* outcome)
      : path_(path), script_(script), outcome_(outcome) {
    periodEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    outputEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (HANDLE& handle : handles_) handle = Open();
  }

  void Step() {
    const uint8_t op = script_->Byte();
    switch (op & 7) {
      case 0:
      case 1:
      case 2:
      case 3:
        Request(op & 1);
        break;
      case 4:
        Prepare(script_->Byte() & 1);
        break;
      case 5: {
        const uint8_t which = script_->Byte() & 1;
        HANDLE& handle = handles_[which];
        if (handle != nullptr) {
          CloseHandle(handle);
          handle = nullptr;
          // Its clean-up took the rings it had prepared away.
          if (ringOwner_ == which) rings_[0] = rings_[1] = nullptr;
        } else {
          handle = Open();
        }
        break;
      }
      case 6: {
        LARGE_INTEGER interval;
        interval.QuadPart = -10000LL * (script_->Byte() % kMostMilliseconds + 1);
        KeDelayExecutionThread(UserMode, FALSE, &interval);
        break;
      }
      default:
        Scribble();
        break;
    }
  }

 private:
  HANDLE Open() {
    HANDLE handle = nullptr;
    std::u16string path = path_ + u"\\asio";
    UNICODE_STRING name = {static_cast<USHORT>(path.size() * 2),
                           static_cast<USHORT>(path.size() * 2), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK iosb = {};
    if (!NT_SUCCESS(NtCreateFile(&handle, GENERIC_READ | GENERIC_WRITE, &attributes, &iosb,
                                 nullptr, 0, 0, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
                                 0)))
      return nullptr;
    return handle;
  }

  void Send(uint8_t which, ULONG code, ULONG inLength, ULONG outLength) {
    HANDLE handle = handles_[which];
    if (handle == nullptr) return;
    IO_STATUS_BLOCK iosb = {};
    NtDeviceIoControlFile(handle, nullptr, nullptr, nullptr, &iosb, code, buffer_, inLength,
                          buffer_, outLength);
    if (code == IOCTL_ASIO_START && NT_SUCCESS(iosb.Status)) ++outcome_->started;
    if (code == IOCTL_ASIO_PREPARE && NT_SUCCESS(iosb.Status)) ++outcome_->prepared;
    if (code == IOCTL_ASIO_PREPARE && NT_SUCCESS(iosb.Status) && outLength >= sizeof(PrepareResult)) {
      PrepareResult result;
      std::memcpy(&result, buffer_, sizeof result);
      rings_[0] = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(result.captureRing));
      rings_[1] = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(result.playbackRing));
      ringOwner_ = which;
    }
  }

  void Request(uint8_t which) {
    const uint8_t index = script_->Byte();
    const ULONG code = index < std::size(kCodes) ? kCodes[index] : index == 0xFF ? script_->Word()
                                                                                 : kCodes[index % std::size(kCodes)];
    const ULONG inLength = script_->Half() % (kLongestBuffer + 1);
    const ULONG outLength = script_->Half() % (kLongestBuffer + 1);
    for (ULONG i = 0; i < inLength; ++i) buffer_[i] = script_->Byte();
    // Any mapped ring is forgotten once the request may have unmapped it.
    if (code == IOCTL_ASIO_UNPREPARE || code == IOCTL_ASIO_RELEASE) rings_[0] = rings_[1] = nullptr;
    Send(which, code, inLength, outLength);
  }

  void Prepare(uint8_t which) {
    PrepareRequest request = {};
    request.periodFrames = script_->Half();
    request.captureWanted = script_->Byte() & 1;
    request.playbackWanted = script_->Byte() & 1;
    request.latencyPercent = script_->Byte();
    request.dsd = script_->Byte() & 1;
    request.formatTag = script_->Byte() & 3;
    request.periodEvent = reinterpret_cast<uintptr_t>(periodEvent_);
    request.outputEvent = reinterpret_cast<uintptr_t>(outputEvent_);
    std::memcpy(buffer_, &request, sizeof request);
    Send(which, IOCTL_ASIO_PREPARE, sizeof request, sizeof(PrepareResult));
  }

  void Scribble() {
    uint8_t* header = rings_[script_->Byte() & 1];
    const uint32_t field = script_->Byte() % 7;
    const uint32_t value = script_->Word();
    if (header != nullptr) std::memcpy(header + 4 * field, &value, 4);
  }

  std::u16string path_;
  ClientScript* script_;
  PrivateRequestsOutcome* outcome_;
  HANDLE handles_[2] = {};
  HANDLE periodEvent_ = nullptr;
  HANDLE outputEvent_ = nullptr;
  uint8_t* rings_[2] = {};  // the header of each ring the last good prepare mapped
  uint8_t ringOwner_ = 0;
  uint8_t buffer_[kLongestBuffer] = {};
};

}  // namespace

bool RunPrivateRequests(std::span<const uint8_t> input, std::string* failure,
                        PrivateRequestsOutcome* outcome) {
  PrivateRequestsOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  if (input.empty()) return true;
  ClientScript script(input.subspan(1));
  kernel::HostKernel kernel;
  sim::machine::Machine machine(kernel, DriverEntry, {});
  if (!StartCatalogueDevice(machine, kDevices[input[0] % std::size(kDevices)], failure))
    return false;
  std::u16string path;
  const bool ran = machine.RunInKernelThread([&] {
    UNICODE_STRING reference;
    RtlInitUnicodeString(&reference, WSTR("Wave"));
    UNICODE_STRING link = {};
    if (!NT_SUCCESS(IoRegisterDeviceInterface(machine.PhysicalDevice(), &KSCATEGORY_AUDIO,
                                              &reference, &link)))
      return;
    IoSetDeviceInterfaceState(&link, TRUE);
    path.assign(reinterpret_cast<const char16_t*>(link.Buffer), link.Length / 2);
    RtlFreeUnicodeString(&link);
    PEPROCESS process = nullptr;
    if (!NT_SUCCESS(PsHostCreateProcess("host.exe", &process))) return;
    PEPROCESS system = PsGetCurrentProcess();
    PsHostSetThreadProcess(KeGetCurrentThread(), process);
    {
      Client client(path, &script, outcome);
      while (!script.Done()) client.Step();
    }
    // The process ends with whatever it left open: clean-up must unwind it all.
    PsHostTerminateProcess(process);
    PsHostSetThreadProcess(KeGetCurrentThread(), system);
    ObDereferenceObject(process);
  }, "client");
  if (!ran || kernel.Stopped() || !NT_SUCCESS(machine.UnplugDevice()) || !machine.UnloadDriver()) {
    *failure = StopReport(kernel);
    return false;
  }
  return true;
}

std::vector<std::vector<uint8_t>> PrivateRequestSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  for (uint8_t device = 0; device < std::size(kDevices); ++device) {
    std::vector<uint8_t> seed = {device};
    const auto request = [&](uint8_t index) {
      seed.insert(seed.end(), {0, index, 0, 0, 16, 0});
    };
    const bool playbackOnly = device == 1;
    // The playback-only device runs in free-rate mode: the client sets 48000 first.
    if (playbackOnly) seed.insert(seed.end(), {0, 3, 4, 0, 0, 0, 0x80, 0xBB, 0, 0});
    request(7);  // acquire
    // A prepare of period 64, PCM, both directions (playback alone on the playback-only device).
    seed.insert(seed.end(), {4, 0, 64, 0, static_cast<uint8_t>(playbackOnly ? 0 : 1), 1, 50, 0, 1});
    request(9);   // start
    request(16);  // arm
    seed.insert(seed.end(), {6, 20, 7, 0, 1, 0xFF, 0xFF, 0xFF, 0x7F, 6, 20});
    request(15);  // get interrupted
    seeds.push_back(seed);
  }
  return seeds;
}

}  // namespace tarnlink::fuzz
