// The ASIO stream's edges as a client sees them in the ring headers: the first period signal
// after one staged capture period, capture deliveries without frames or without data, the
// playback prefill at each start, a start that fails, and the fill frames a start time asks for.
#include <gtest/gtest.h>

#include <cstring>

#include "asio_channel_fixture.h"
#include "kernel/machine.h"
#include "sim/devices/catalogue.h"
#include "user_mode.h"

namespace tarnlink::asioctl::testing {
namespace {

class AsioStreamLifecycleTest : public AsioChannelTest {
 protected:
  void PlugWithWave(std::string_view name) {
    Plug(name);
    RegisterWaveInterface();
  }

  // Hands the ASIO capture feed a delivery as the capture DPC would.
  void DeliverCapture(PCVOID data, ULONG frames) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    Engine().CaptureFeedOf(StreamUser::Asio).Deliver(data, frames);
    KeLowerIrql(old);
  }

  // A stream of `period` frames with the client's events, started; without capture if told.
  PrepareResult StartWithEvents(AsioClient& client, ULONG period, bool capture = true) {
    client.CreateEvents();
    PrepareRequest request = Duplex(period, client);
    request.captureWanted = capture ? 1 : 0;
    return StartStream(client, request);
  }

  static void End(AsioClient& client) {
    client.Close();
    client.CloseEvents();
  }
};

bool AllFill(const ClientRing& ring, uint8_t fill) {
  const auto* data = reinterpret_cast<const uint8_t*>(ring.Header() + 1);
  for (ULONG i = 0; i < ring.RingBytes(); ++i) {
    if (data[i] != fill) return false;
  }
  return true;
}

// A period of 100 frames does not divide the device's transfers: only staging makes the first
// signal come with exactly one period in the capture ring (the latest one), and that signal
// starts the playback ring.
TEST_F(AsioStreamLifecycleTest, TheFirstPeriodSignalComesWithOneStagedPeriod) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    const PrepareResult rings = StartWithEvents(client, 100);
    const ClientRing capture(rings.captureRing);
    EXPECT_FALSE(Stream().PlaybackRingStarted());
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    ASSERT_TRUE(client.WaitPeriod(1000));
    EXPECT_EQ(capture.Fill(), 100 * capture.FrameBytes());
    // The driver marks the playback ring started and takes the start time just after the
    // signal, so the client looks at the next one.
    ASSERT_TRUE(client.WaitPeriod(1000));
    EXPECT_TRUE(Stream().PlaybackRingStarted());
    LONGLONG start = 0;
    EXPECT_EQ(client.Send(IOCTL_ASIO_GET_START_TIME, nullptr, 0, &start, sizeof start).bytes, 8u);
    EXPECT_GT(start, 0);
    End(client);
  });
}

// Once a period has been staged, a delivery of no frames still wakes the client and adds
// nothing; a delivery without data (a failed transfer) raises the capture ring's interrupted
// word instead, until the next stop.
TEST_F(AsioStreamLifecycleTest, CaptureDeliveriesWithoutFramesOrData) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    const PrepareResult rings = StartWithEvents(client, 64);
    const ClientRing capture(rings.captureRing);
    ASSERT_EQ(client.Status(IOCTL_ASIO_ARM), STATUS_SUCCESS);
    ASSERT_TRUE(client.WaitPeriod(1000));
    // No time passes from here on: the device delivers nothing in between.
    while (client.WaitPeriod(0)) {
    }
    const ULONG fill = capture.Fill();
    const uint8_t frame[64] = {};

    DeliverCapture(frame, 0);
    EXPECT_TRUE(client.WaitPeriod(0)) << "no frames still signal the period";
    EXPECT_EQ(capture.Fill(), fill);
    EXPECT_EQ(capture.Header()->interrupted, 0u);

    DeliverCapture(nullptr, 0);
    EXPECT_FALSE(client.WaitPeriod(0)) << "no data does not";
    EXPECT_EQ(capture.Fill(), fill);
    EXPECT_EQ(capture.Header()->interrupted, 1u);

    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    EXPECT_EQ(capture.Header()->interrupted, 0u);
    End(client);
  });
}

// Each start of a duplex stream rewrites the playback ring with the fill byte and puts one
// period of it (or the prefill override, at most the whole ring) ahead of the client, whatever
// the client left in the header and the data.
TEST_F(AsioStreamLifecycleTest, EachStartPrefillsThePlaybackRing) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  AsUser([&] {
    AsioClient client;
    const PrepareResult rings = StartWithEvents(client, 100);
    const ClientRing playback(rings.playbackRing);
    const ULONG frameBytes = playback.FrameBytes();
    const ULONG ringFrames = playback.RingBytes() / frameBytes;
    struct Case {
      ULONG overrideFrames;
      ULONG prefillFrames;
    };
    const Case cases[] = {{0, 100}, {37, 37}, {ringFrames + 1, ringFrames}, {0, 100}};
    ULONG previous = 100;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.overrideFrames);
      SharedRingHeader* header = playback.Header();
      std::memset(header + 1, 0x5A, playback.RingBytes());
      header->debt = -12;
      header->readOffset = 8;
      header->writeOffset = 3;
      ASSERT_EQ(client.Send(IOCTL_ASIO_SET_PREFILL_OVERRIDE, &c.overrideFrames, 4).status,
                STATUS_SUCCESS);
      ASSERT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
      // A stop resets the ring to the prefill of the start before it.
      EXPECT_EQ(header->fillBytes, static_cast<LONG>(previous * frameBytes));
      ASSERT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
      const ULONG bytes = c.prefillFrames * frameBytes;
      EXPECT_EQ(header->fillBytes, static_cast<LONG>(bytes));
      EXPECT_EQ(header->writeOffset, bytes);
      EXPECT_EQ(header->readOffset, 0u);
      EXPECT_EQ(header->debt, 0);
      EXPECT_EQ(header->interrupted, 0u);
      EXPECT_TRUE(AllFill(playback, ASIO_PCM_FILL_BYTE));
      previous = c.prefillFrames;
    }
    End(client);
  });
}

// A start whose direction cannot open leaves the handle Prepared with nothing running; the
// unprepare then gives back only the direction the stream had a ring for, not the capture the
// operating-system stream holds; and the next prepare and start succeed.
TEST_F(AsioStreamLifecycleTest, AFailedStartLeavesThePreparedStreamToUnprepare) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  CDirectionClaims& claims = Engine().Claims();
  InKernel([&] { ASSERT_EQ(claims.Claim(TRUE, FALSE, FALSE), STATUS_SUCCESS); });
  AsUser([&] {
    AsioClient client;
    client.CreateEvents();
    PrepareRequest request = Duplex(64, client);
    request.captureWanted = 0;
    ASSERT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
    ASSERT_EQ(client.Status(IOCTL_ASIO_ACQUIRE), STATUS_SUCCESS);
    PrepareResult rings = {};
    ASSERT_EQ(client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &rings, 16).status,
              STATUS_SUCCESS);
    EXPECT_EQ(claims.PlaybackUsers(), 1u);
    EXPECT_EQ(claims.CaptureUsers(), 1u);

    Faults().stalledEndpoints.insert(0);
    EXPECT_FALSE(NT_SUCCESS(client.Status(IOCTL_ASIO_START)));
    Faults().stalledEndpoints.erase(0);
    EXPECT_EQ(StateOf(client), static_cast<ULONG>(AsioHandlePrepared));
    EXPECT_FALSE(Stream().IsStarted());
    EXPECT_EQ(Engine().OpenCount(kDirectionPlayback), 0u);
    EXPECT_EQ(Engine().OpenCount(kDirectionCapture), 0u);

    EXPECT_EQ(client.Status(IOCTL_ASIO_UNPREPARE), STATUS_SUCCESS);
    EXPECT_EQ(claims.PlaybackUsers(), 0u);
    EXPECT_EQ(claims.CaptureUsers(), 1u);

    ASSERT_EQ(client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &rings, 16).status,
              STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
    End(client);
  });
  InKernel([&] { claims.Release(TRUE, FALSE); });
  EXPECT_EQ(claims.CaptureUsers(), 0u);
  EXPECT_EQ(claims.PlaybackUsers(), 0u);
}

// On a stream without capture the start time the client sends becomes fill frames, written into
// the playback ring as a producer would before the driver's next read; a time whose frame count
// cannot be computed is ignored.
TEST_F(AsioStreamLifecycleTest, AStartTimeQueuesFillFramesOnAPlaybackOnlyStream) {
  PlugWithWave(sim::devices::kDefaultDeviceName);
  const ULONGLONG rate = Adapter()->FixedRate();
  AsUser([&] {
    AsioClient client;
    const ClientRing playback(StartWithEvents(client, 64, false).playbackRing);
    // No capture path ever signalled: the start time is 0, so the time sent is the distance.
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const ULONG frames = 10;
    const ULONGLONG ticks = (frames * static_cast<ULONGLONG>(frequency.QuadPart) + rate - 1) / rate;
    LARGE_INTEGER pause;
    pause.QuadPart = -5 * 10000;
    for (ULONGLONG time : {ticks, ~ULONGLONG{0}}) {
      SCOPED_TRACE(time);
      EXPECT_EQ(client.Send(IOCTL_ASIO_SET_START_TIME, &time, sizeof time).status,
                STATUS_SUCCESS);
      KeDelayExecutionThread(UserMode, FALSE, &pause);
      // Not armed: the driver reads nothing, so the fill frames stay in the ring.
      EXPECT_EQ(playback.Fill(), frames * playback.FrameBytes());
      EXPECT_EQ(playback.Header()->writeOffset, frames * playback.FrameBytes());
    }
    End(client);
  });
}

}  // namespace
}  // namespace tarnlink::asioctl::testing
