// The operating system's audio path end to end: render and capture through the audio engine,
// the framework, the WaveRT miniport and stream, the stream engine and the bus.
#include "os_path_fixture.h"

namespace tarnlink::scenarios::testing {
namespace {

using sim::audioengine::WishedFormat;

TEST_F(OsPathTest, RenderReachesTheDeviceBitExact) {
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartRender({48000, 2, 24}), STATUS_SUCCESS);
  ExpectNoFifoFaults(RunStreaming(2000));
  ExpectRenderClean();
}

TEST_F(OsPathTest, CaptureReachesTheEngineBitExact) {
  machine->PresetHardwareDword(u"SampleRate", 48000);
  Plug("velmor-dac");
  OpenEngine();
  ASSERT_EQ(StartCapture({48000, 2, 32}), STATUS_SUCCESS);
  RunMs(2000);
  ExpectCaptureClean();
}

}  // namespace
}  // namespace tarnlink::scenarios::testing
