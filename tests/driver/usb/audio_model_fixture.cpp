#include "audio_model_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"
#include "sim/devices/uac_constants.h"

namespace tarnlink::audio_model::testing {

namespace uac = sim::devices::uac;
using sim::devices::ControlResult;

sim::devices::ControlResult RecordingDevice::Control(const sim::devices::BusTime& time,
                                                     const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                                     std::span<uint8_t> data) {
  const uint8_t type = setup.bmRequestType.B;
  if ((type & 0x60) != 0) {
    SeenRequest r{type, setup.bRequest, setup.wValue.W, setup.wIndex.W, setup.wLength, {}};
    if ((type & 0x80) == 0) r.data.assign(data.begin(), data.end());
    seen.push_back(r);
    for (const Scripted& s : scripted_) {
      if (s.type == type && s.request == setup.bRequest && s.value == setup.wValue.W &&
          s.index == setup.wIndex.W) {
        if (s.answer.stall) return ControlResult::Stall();
        const size_t n = std::min(data.size(), s.answer.bytes.size());
        std::memcpy(data.data(), s.answer.bytes.data(), n);
        return ControlResult::Ack(n);
      }
    }
  }
  return inner_->Control(time, setup, data);
}

void RecordingDevice::Script(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                             ScriptedAnswer answer) {
  scripted_.push_back({type, request, value, index, std::move(answer)});
}

void AudioModelTest::TearDown() {
  if (!kernel().Stopped()) {
    RunInThread([&] {
      delete model_;
      model_ = nullptr;
      if (built_) port_.TearDown();
    });
  }
  KernelTest::TearDown();
}

void AudioModelTest::Plug(const AudioFunctionSpec& spec, std::optional<UsbSpeed> bus,
                          std::optional<std::vector<uint8_t>> configuration,
                          sim::devices::DeviceBehaviour behaviour) {
  std::unique_ptr<sim::devices::UacDevice> uac;
  if (configuration) {
    sim::devices::DescriptorImage image = sim::devices::BuildImage(spec);
    image.configuration = *configuration;
    uac = std::make_unique<sim::devices::UacDevice>(spec, image, behaviour);
  } else {
    uac = std::make_unique<sim::devices::UacDevice>(spec, behaviour);
  }
  auto recording = std::make_unique<RecordingDevice>(std::move(uac));
  device_ = recording.get();
  ASSERT_TRUE(RunInThread([&] {
    port_.Build(std::move(recording), bus.value_or(spec.speed));
    built_ = true;
    model_ = new CUSBAudioCL();
  }));
}

void AudioModelTest::PlugCatalogue(const char* name) {
  const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry(name);
  ASSERT_NE(entry, nullptr) << name;
  Plug(entry->spec, std::nullopt, std::nullopt, entry->behaviour);
}

void AudioModelTest::Start() {
  ASSERT_EQ(Initialize(), STATUS_SUCCESS);
  ASSERT_EQ(model_->Configure(), STATUS_SUCCESS);
}

EndpointSpec IsoEndpoint(uint8_t address, uint8_t attributes, uint8_t interval,
                         uint16_t maxPacket) {
  EndpointSpec ep{};
  ep.bEndpointAddress = address;
  ep.bmAttributes = attributes;
  ep.bInterval = interval;
  ep.wMaxPacketSize = maxPacket;
  return ep;
}

AltSettingSpec Uac2Alt(uint8_t channels, uint8_t subslot, uint8_t bits, EndpointSpec data,
                       std::optional<EndpointSpec> feedback) {
  AltSettingSpec a{};
  a.bNrChannels = channels;
  a.bSubslotSize = subslot;
  a.bBitResolution = bits;
  a.bmFormats = uac::kFormatPcm;
  a.bmChannelConfig = channels == 2 ? 3 : 0;
  a.data = data;
  if (a.data.wMaxPacketSize == 0) {
    a.data.wMaxPacketSize =
        sim::devices::PacketSizeFor(192000, UsbSpeed::High, data.bInterval, a.FrameBytes());
  }
  a.feedback = feedback;
  return a;
}

AltSettingSpec Uac1Alt(uint8_t channels, uint8_t subframe, uint8_t bits,
                       std::vector<uint32_t> rates, EndpointSpec data,
                       std::optional<EndpointSpec> feedback) {
  AltSettingSpec a{};
  a.bNrChannels = channels;
  a.bSubslotSize = subframe;
  a.bBitResolution = bits;
  a.wFormatTag = bits == 8 ? uac::kFormatTagPcm8 : uac::kFormatTagPcm;
  a.tSamFreq = std::move(rates);
  a.endpointAttributes = 0x01;
  a.data = data;
  if (a.data.wMaxPacketSize == 0) {
    a.data.wMaxPacketSize = sim::devices::PacketSizeFor(48000, UsbSpeed::Full, 1, a.FrameBytes());
  }
  a.feedback = feedback;
  return a;
}

namespace {

sim::devices::InputTerminalSpec InputTerminal(uint8_t id, uint16_t type, uint8_t clock) {
  sim::devices::InputTerminalSpec t{};
  t.bTerminalID = id;
  t.wTerminalType = type;
  t.bCSourceID = clock;
  return t;
}

sim::devices::OutputTerminalSpec OutputTerminal(uint8_t id, uint16_t type, uint8_t source,
                                                uint8_t clock) {
  sim::devices::OutputTerminalSpec t{};
  t.bTerminalID = id;
  t.wTerminalType = type;
  t.bSourceID = source;
  t.bCSourceID = clock;
  return t;
}

sim::devices::StreamingInterfaceSpec Streaming(uint8_t number, uint8_t terminal,
                                               std::vector<AltSettingSpec> alts) {
  sim::devices::StreamingInterfaceSpec s{};
  s.bInterfaceNumber = number;
  s.bTerminalLink = terminal;
  s.alts = std::move(alts);
  return s;
}

}  // namespace

AudioFunctionSpec Uac2Device(bool capture, std::vector<uint32_t> rates) {
  AudioFunctionSpec f{};
  f.version = sim::devices::UacVersion::Uac2;
  f.speed = UsbSpeed::High;
  f.idVendor = 0x1234;
  f.idProduct = 0x0001;
  f.manufacturer = "Test";
  f.product = "Test DAC";
  sim::devices::ClockSourceSpec clock{};
  clock.bClockID = 1;
  clock.rates = std::move(rates);
  f.entities = {clock, InputTerminal(10, uac::kTerminalUsbStreaming, 1),
                OutputTerminal(12, uac::kTerminalSpeaker, 10, 1)};
  f.streams = {Streaming(
      1, 10,
      {Uac2Alt(2, 2, 16, IsoEndpoint(0x01, kIsoAsync)),
       Uac2Alt(2, 4, 32, IsoEndpoint(0x01, kIsoAsync), IsoEndpoint(0x81, kIsoFeedback, 4, 4))})};
  if (capture) {
    f.entities.push_back(InputTerminal(20, uac::kTerminalLineConnector, 1));
    f.entities.push_back(OutputTerminal(22, uac::kTerminalUsbStreaming, 20, 1));
    f.streams.push_back(Streaming(2, 22, {Uac2Alt(2, 4, 24, IsoEndpoint(0x82, kIsoAsync))}));
  }
  return f;
}

AudioFunctionSpec Uac1Device(bool capture) {
  AudioFunctionSpec f{};
  f.version = sim::devices::UacVersion::Uac1;
  f.speed = UsbSpeed::Full;
  f.bcdUSB = 0x0110;
  f.idVendor = 0x1234;
  f.idProduct = 0x0002;
  f.manufacturer = "Test";
  f.product = "Test 1.0";
  f.interfaceAssociation = false;
  sim::devices::FeatureUnitSpec feature{};
  feature.bUnitID = 2;
  feature.bSourceID = 1;
  feature.bControlSize = 1;
  feature.bmaControls = {0x03, 0, 0};
  f.entities = {InputTerminal(1, uac::kTerminalUsbStreaming, 0), feature,
                OutputTerminal(3, uac::kTerminalSpeaker, 2, 0)};
  f.streams = {
      Streaming(1, 1, {Uac1Alt(2, 2, 16, {44100, 48000}, IsoEndpoint(0x01, kIsoAdaptive))})};
  if (capture) {
    f.entities.push_back(InputTerminal(4, uac::kTerminalMicrophone, 0));
    f.entities.push_back(OutputTerminal(5, uac::kTerminalUsbStreaming, 4, 0));
    f.streams.push_back(
        Streaming(2, 5, {Uac1Alt(2, 2, 16, {44100, 48000}, IsoEndpoint(0x82, kIsoAsync))}));
  }
  return f;
}

}  // namespace tarnlink::audio_model::testing
