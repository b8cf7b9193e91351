#include "os_path_fixture.h"

namespace tarnlink::scenarios::testing {

using sim::audioengine::PinFormat;
using sim::audioengine::SeenLayout;
using sim::devices::SampleLayout;

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
  const SampleLayout layout = SeenLayout(writer.ValidBits(), render->Format(), DeviceLayout(kDirectionPlayback));
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = engine::testing::SinkContinuity(Sink(), channel, layout);
    EXPECT_TRUE(seen.Clean()) << "render channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats << ", wrong channel " << seen.wrongChannel;
    EXPECT_GT(seen.frames, 0u);
    EXPECT_EQ(seen.firstFrame, 0u) << "render channel " << channel
                                   << ": the device's first frame is not the engine's first";
  }
  EXPECT_EQ(render->Counters().glitches, 0u);
}

void OsPathTest::ExpectCaptureClean() {
  ASSERT_TRUE(capture);
  const sim::audioengine::CapturePath path{DeviceLayout(kDirectionCapture), 32,
                                            capture->Format().bits};
  for (unsigned channel = 0; channel < 2; ++channel) {
    const auto seen = sim::audioengine::CheckCapturedSignal(reader.Samples(channel), channel, path);
    EXPECT_TRUE(seen.Clean()) << "capture channel " << channel << ": first break at "
                              << seen.firstBreak << ", gaps " << seen.gaps << ", repeats "
                              << seen.repeats;
    EXPECT_GT(seen.frames, 0u);
  }
  EXPECT_EQ(capture->Counters().glitches, 0u);
}

}  // namespace tarnlink::scenarios::testing
