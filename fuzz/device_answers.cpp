#include "device_answers.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "kernel/host_kernel.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/forwarding_device.h"
#include "sim/machine/machine.h"
#include "usb_audio_adapter.h"

namespace tarnlink::fuzz {
namespace {

using sim::devices::BusTime;
using sim::devices::ControlResult;

constexpr uint8_t kRequestTypeMask = 0x60;
constexpr uint8_t kStandardRequest = 0x00;
constexpr ULONG kTransfersPerDirection = 2;

// Reads the script front to back; an exhausted script says "pass it on".
class Script {
 public:
  explicit Script(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t Next() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  // The next length byte and that many bytes (fewer at the end of the script).
  std::span<const uint8_t> Block() {
    const size_t n = std::min<size_t>(Next(), bytes_.size() - at_);
    std::span<const uint8_t> block = bytes_.subspan(at_, n);
    at_ += n;
    return block;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

class FuzzedAnswers : public sim::devices::ForwardingDevice {
 public:
  FuzzedAnswers(std::unique_ptr<UsbDevice> inner, Script* script)
      : ForwardingDevice(std::move(inner)), script_(script) {}

  ControlResult Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                        std::span<uint8_t> data) override {
    const bool standard = (setup.bmRequestType.B & kRequestTypeMask) == kStandardRequest;
    const bool stringRead = standard && setup.bRequest == USB_REQUEST_GET_DESCRIPTOR &&
                            setup.wValue.HiByte == USB_STRING_DESCRIPTOR_TYPE;
    if (standard && !stringRead) return ForwardingDevice::Control(time, setup, data);
    switch (script_->Next() & 3) {
      case 0:
        return ForwardingDevice::Control(time, setup, data);
      case 1:
        return ControlResult::Stall();
      default: {
        const std::span<const uint8_t> block = script_->Block();
        const bool in = (setup.bmRequestType.B & 0x80) != 0;
        if (!in) return ControlResult::Ack(data.size());
        const size_t n = std::min(block.size(), data.size());
        std::memcpy(data.data(), block.data(), n);
        return ControlResult::Ack(n);
      }
    }
  }

  sim::devices::IsoInResult IsoIn(const BusTime& time, uint8_t endpoint,
                                  std::span<uint8_t> buffer) override {
    switch (script_->Next() & 3) {
      case 0:
        return ForwardingDevice::IsoIn(time, endpoint, buffer);
      case 1:
        return {};
      default: {
        const std::span<const uint8_t> block = script_->Block();
        const size_t n = std::min(block.size(), buffer.size());
        std::memcpy(buffer.data(), block.data(), n);
        return {sim::devices::IsoStatus::Ok, n};
      }
    }
  }

 private:
  Script* script_;
};

struct Transfer {
  KEVENT done;
  std::vector<UCHAR> buffer;
};

VOID TransferDone(NTSTATUS, ULONG, ULONG, PVOID context, ULONG) {
  KeSetEvent(&static_cast<Transfer*>(context)->done, IO_NO_INCREMENT, FALSE);
}

// A few transfers in each direction at the device's fixed rate (or 48 kHz), then back to zero
// bandwidth. Whatever the device answered, every submitted transfer must complete.
size_t StreamBriefly(UsbAudioAdapter* adapter) {
  CUSBAudioCL& model = adapter->Model();
  const ULONG rate = adapter->FixedRate() != 0 ? adapter->FixedRate() : 48000;
  std::vector<std::unique_ptr<Transfer>> submitted;
  const auto take = [&](ULONG bytes) {
    submitted.push_back(std::make_unique<Transfer>());
    Transfer* t = submitted.back().get();
    KeInitializeEvent(&t->done, NotificationEvent, FALSE);
    t->buffer.resize(std::max<ULONG>(bytes, 1));
    return t;
  };
  for (ULONG direction : {kDirectionCapture, kDirectionPlayback}) {
    ULONG channels = 0, bits = 0, maxBytes = 0;
    if (!NT_SUCCESS(model.GetMaxFormat(direction, 1, rate, &channels, &bits)) ||
        !NT_SUCCESS(model.SelectStreamingFormat(direction, 1, channels, bits, rate, 1, &channels,
                                                &bits, &maxBytes)))
      continue;
    for (ULONG i = 0; i < kTransfersPerDirection; ++i) {
      if (direction == kDirectionCapture) {
        Transfer* t = take(maxBytes);
        if (!NT_SUCCESS(model.SubmitCapture(t->buffer.data(), maxBytes, TransferDone, t)))
          submitted.pop_back();
        continue;
      }
      const bool feedback = model.PlaybackInterface()->FeedbackPipe != nullptr;
      const ULONG bytes = model.GetTransferBytes(1, feedback ? model.LatchPlaybackFeedback() : 0);
      Transfer* t = take(bytes);
      if (!NT_SUCCESS(model.SubmitPlayback(t->buffer.data(), nullptr, bytes, 1, TransferDone, t)))
        submitted.pop_back();
    }
    if (direction == kDirectionPlayback && model.GetFeedbackBufferSize() != 0) {
      Transfer* t = take(model.GetFeedbackBufferSize());
      if (!NT_SUCCESS(model.RecvFeedback(t->buffer.data(), model.GetFeedbackBufferSize(),
                                         TransferDone, t)))
        submitted.pop_back();
    }
  }
  for (auto& t : submitted) KeWaitForSingleObject(&t->done, Executive, KernelMode, FALSE, nullptr);
  for (ULONG direction : {kDirectionCapture, kDirectionPlayback}) {
    ULONG channels = 0, bits = 0, maxBytes = 0;
    model.SelectStreamingFormat(direction, 0, 0, 0, 0, 1, &channels, &bits, &maxBytes);
  }
  return submitted.size();
}

std::string Report(kernel::HostKernel& kernel) {
  const kernel::StopInfo* stop = kernel.Stop();
  return stop != nullptr ? stop->report : "the run failed without a stop report";
}

}  // namespace

bool RunDeviceAnswers(std::span<const uint8_t> input, std::string* failure,
                      DeviceAnswersOutcome* outcome) {
  DeviceAnswersOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  if (input.empty()) return true;
  const auto& catalogue = sim::devices::Catalogue();
  const sim::devices::CatalogueEntry& entry = catalogue[input[0] % catalogue.size()];
  Script script(input.subspan(1));

  kernel::HostKernel kernel;
  sim::machine::MachineOptions options;
  options.busSpeed = entry.spec.speed;
  sim::machine::Machine machine(kernel, DriverEntry, options);
  if (!NT_SUCCESS(machine.LoadDriver())) {
    *failure = "the driver did not load";
    return false;
  }
  auto device = std::make_unique<FuzzedAnswers>(
      std::make_unique<sim::devices::UacDevice>(entry.spec, entry.behaviour), &script);
  const NTSTATUS started = machine.PlugDevice(
      std::move(device),
      entry.boundWhole ? sim::machine::Binding::Whole : sim::machine::Binding::Function);
  outcome->started = NT_SUCCESS(started);
  if (outcome->started) {
    auto* adapter = static_cast<UsbAudioAdapter*>(
        GetDispatchContext(machine.FunctionDevice())->Adapter);
    if (!machine.RunInKernelThread([&] { outcome->transfers = StreamBriefly(adapter); },
                                   "stream")) {
      *failure = Report(kernel);
      return false;
    }
    machine.SetDevicePower(PowerDeviceD3);
    machine.SetDevicePower(PowerDeviceD0);
  }
  if (kernel.Stopped() || !machine.UnloadDriver()) {
    *failure = Report(kernel);
    return false;
  }
  return true;
}

std::vector<uint8_t> EncodeDeviceAnswersSeed(size_t index) {
  return {static_cast<uint8_t>(index)};
}

}  // namespace tarnlink::fuzz
