#include "stream_fixture.h"

#include <cstring>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::engine::testing {

sim::devices::SampleLayout PositionSource::Layout() const {
  const auto bits = static_cast<uint8_t>(format_.Bits);
  return {static_cast<uint8_t>(bits / 8), bits};
}

ULONG PositionSource::Read(PVOID dst, ULONG frames) {
  const auto layout = Layout();
  auto* out = static_cast<uint8_t*>(dst);
  for (ULONG f = 0; f < frames; ++f, ++next_) {
    if (out == nullptr) continue;
    for (ULONG c = 0; c < format_.Channels; ++c) {
      const uint32_t word = sim::devices::PositionSignal::Encode(next_, c, layout);
      std::memcpy(out, &word, layout.subslotBytes);
      out += layout.subslotBytes;
    }
  }
  return frames;
}

VOID RecordingSink::Write(PCVOID src, ULONG frames) {
  if (src == nullptr) {
    ++empty_;
    return;
  }
  const auto* in = static_cast<const uint8_t*>(src);
  const ULONG width = format_.Bits / 8;
  for (ULONG f = 0; f < frames; ++f) {
    for (ULONG c = 0; c < format_.Channels && c < 8; ++c) {
      uint32_t word = 0;
      std::memcpy(&word, in + (f * format_.Channels + c) * width, width);
      samples_[c].push_back(word);
    }
  }
}

PDRIVER_INITIALIZE StreamTest::Entry() const {
  return DriverEntry;
}

void StreamTest::Plug(std::string_view name,
                      const std::function<void(sim::devices::DeviceBehaviour&)>& change) {
  const auto* entry = sim::devices::FindCatalogueEntry(name);
  ASSERT_NE(entry, nullptr);
  sim::devices::DeviceBehaviour behaviour = entry->behaviour;
  if (change) change(behaviour);
  ASSERT_EQ(machine->PlugDevice(std::make_unique<sim::devices::UacDevice>(entry->spec, behaviour)),
            STATUS_SUCCESS);
}

UsbAudioAdapter* StreamTest::Adapter() {
  return static_cast<UsbAudioAdapter*>(GetDispatchContext(machine->FunctionDevice())->Adapter);
}

sim::devices::UacDevice* StreamTest::Device() {
  return static_cast<sim::devices::UacDevice*>(machine->Device());
}

const sim::devices::PlaybackSink& StreamTest::Sink() {
  return *Device()->Sink(Adapter()->Model().PlaybackInterface()->InterfaceNumber);
}

void StreamTest::InKernel(const std::function<void()>& body) {
  ASSERT_TRUE(machine->RunInKernelThread(body));
}

void StreamTest::RunMs(uint64_t ms) {
  ASSERT_TRUE(kernel().RunFor(ms * kMs));
}

}  // namespace tarnlink::engine::testing
