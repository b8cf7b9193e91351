#include "os_path_fixture.h"

#include <algorithm>
#include <cstring>

namespace tarnlink::scenarios::testing {

using sim::audioengine::PinFormat;
using sim::devices::PositionSignal;
using sim::devices::SampleLayout;

namespace {

SampleLayout PinLayout(const PinFormat& format) {
  return {static_cast<uint8_t>(format.bits / 8), static_cast<uint8_t>(format.bits)};
}

}  // namespace

void SignalWriter::Fill(uint8_t* dst, ULONG frames, const PinFormat& format) {
  const SampleLayout layout = PinLayout(format);
  for (ULONG f = 0; f < frames; ++f, ++next_) {
    for (ULONG c = 0; c < format.channels; ++c) {
      const uint32_t word = PositionSignal::Encode(next_, c, layout);
      std::memcpy(dst, &word, layout.subslotBytes);
      dst += layout.subslotBytes;
    }
  }
}

void SignalReader::Take(const uint8_t* src, ULONG frames, const PinFormat& format) {
  const ULONG width = format.bits / 8u;
  for (ULONG f = 0; f < frames; ++f) {
    for (ULONG c = 0; c < format.channels; ++c) {
      uint32_t word = 0;
      std::memcpy(&word, src + (f * format.channels + c) * width, width);
      if (c < 2) samples_[c].push_back(word);
    }
  }
}

SampleLayout SeenLayout(const PinFormat& pin, SampleLayout other) {
  return {other.subslotBytes, std::min<uint8_t>(static_cast<uint8_t>(pin.bits), other.bitResolution)};
}

void OsPathTest::TearDown() {
  CloseStreams();
  engine::testing::StreamTest::TearDown();
}

void OsPathTest::OpenEngine() {
  const auto interfaces = AudioInterfaces();
  ASSERT_EQ(interfaces.size(), 1u);
  engine = std::make_unique<sim::audioengine::AudioEngine>(kernel());
  InKernel([&] { ASSERT_EQ(engine->Open(interfaces[0]), STATUS_SUCCESS); });
}

NTSTATUS OsPathTest::StartRender(const sim::audioengine::WishedFormat& wished) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  InKernel([&] {
    status = engine->OpenRender(
        wished, 10,
        [this](uint8_t* dst, ULONG frames, const PinFormat& format) {
          writer.Fill(dst, frames, format);
        },
        &render);
    if (NT_SUCCESS(status)) status = render->Start();
  });
  return status;
}

NTSTATUS OsPathTest::StartCapture(const sim::audioengine::WishedFormat& wished) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  InKernel([&] {
    status = engine->OpenCapture(
        wished, 10,
        [this](const uint8_t* src, ULONG frames, const PinFormat& format) {
          reader.Take(src, frames, format);
        },
        &capture);
    if (NT_SUCCESS(status)) status = capture->Start();
  });
  return status;
}

void OsPathTest::CloseStreams() {
  if (!render && !capture && !engine) return;
  if (machine == nullptr || kernel().Stopped()) return;
  InKernel([&] {
    if (render) render->Close();
    if (capture) capture->Close();
    if (engine) engine->Close();
  });
  render.reset();
  capture.reset();
  engine.reset();
}

void OsPathTest::ExpectRenderClean() {
  ASSERT_TRUE(render);
  const SampleLayout layout = SeenLayout(render->Format(), DeviceLayout(kDirectionPlayback));
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = engine::testing::SinkContinuity(Sink(), channel, layout);
    EXPECT_TRUE(seen.Clean()) << "render channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats << ", wrong channel " << seen.wrongChannel;
    EXPECT_GT(seen.frames, 0u);
  }
  EXPECT_EQ(render->Counters().glitches, 0u);
}

void OsPathTest::ExpectCaptureClean() {
  ASSERT_TRUE(capture);
  const SampleLayout layout = SeenLayout(capture->Format(), PinLayout(capture->Format()));
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = sim::devices::CheckContinuity(reader.Samples(channel), channel, layout);
    EXPECT_TRUE(seen.Clean()) << "capture channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats;
    EXPECT_GT(seen.frames, 0u);
  }
  EXPECT_EQ(capture->Counters().glitches, 0u);
}

}  // namespace tarnlink::scenarios::testing
