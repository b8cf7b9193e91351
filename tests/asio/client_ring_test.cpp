// The ASIO driver's side of the shared rings and the latencies it reports, on rings and
// devices made up in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "devices/client_ring.h"
#include "devices/device_latency.h"
#include "devices/device_profile.h"

namespace asio_test {
namespace {

// A ring block as the kernel driver lays it out: the header, then the data area.
struct RingBlock {
  explicit RingBlock(ULONG ringBytes, ULONG frameBytes) : memory(sizeof(SharedRingHeader) + ringBytes) {
    Header()->ringBytes = ringBytes;
    Header()->frameBytes = frameBytes;
  }
  SharedRingHeader* Header() { return reinterpret_cast<SharedRingHeader*>(memory.data()); }
  BYTE* Data() { return memory.data() + sizeof(SharedRingHeader); }
  ULONGLONG Address() { return reinterpret_cast<ULONG_PTR>(memory.data()); }
  std::vector<BYTE> memory;
};

// Capture the driver dropped (positive debt) comes out as silence ahead of the data, and the
// debt is paid.
TEST(ClientRingTest, ACaptureDebtIsPaidWithSilenceBeforeTheData) {
  RingBlock block(4096, 4);
  for (ULONG i = 0; i < 4096; ++i) block.Data()[i] = static_cast<BYTE>(i % 251 + 1);
  block.Header()->fillBytes = 1024;
  block.Header()->writeOffset = 1024;
  block.Header()->debt = 100;
  ClientRing ring(block.Address());
  std::vector<BYTE> period(512, 0xEE);
  EXPECT_EQ(ring.Read(period.data(), 512), 512u);
  for (ULONG i = 0; i < 100; ++i) ASSERT_EQ(period[i], 0) << i;
  EXPECT_EQ(std::memcmp(period.data() + 100, block.Data(), 412), 0);
  EXPECT_EQ(block.Header()->debt, 0);
  EXPECT_EQ(block.Header()->fillBytes, 1024 - 412);
  EXPECT_EQ(block.Header()->readOffset, 412u);
}

// A hostile header cannot move the copies out of the data area: the sizes are the ones read
// at prepare, the offset is this side's own.
TEST(ClientRingTest, AHeaderChangedLaterDoesNotMoveTheWritesOutOfTheRing) {
  RingBlock block(1024, 8);
  ClientRing ring(block.Address());
  block.Header()->ringBytes = 0x7FFFFFFF;
  block.Header()->fillBytes = -5000;
  std::vector<BYTE> period(2048, 0xAB);
  ring.Write(period.data(), 2048);
  ring.Write(period.data(), 2048);
  EXPECT_LT(block.Header()->writeOffset, 1024u);
  EXPECT_EQ(block.memory.size(), sizeof(SharedRingHeader) + 1024);
}

TEST(DeviceLatencyTest, ProfiledAndPlainDevices) {
  const DeviceProfile* profile = FindDeviceProfile(WSTR("USB\\VID_7A31&PID_0C5E&MI_00\\6&1"));
  ASSERT_NE(profile, nullptr);
  struct Case {
    DeviceLatencyInput device;
    bool known;
    ULONG input;
    ULONG output;
  } cases[] = {
      {{profile, 48000, 2, 2, 1, 256}, true, 328, 489},
      {{nullptr, 44100, 0, 2, 1, 256}, true, 0, 526},
      {{nullptr, 48000, 2, 0, 1, 64}, true, 64, 0},
      // Beyond the measured rates a profiled device has nothing to say.
      {{profile, 32000, 2, 2, 1, 256}, false, 0, 0},
  };
  for (const Case& c : cases) {
    ULONG input = 99, output = 99;
    ASSERT_EQ(DeviceLatency(c.device, &input, &output), c.known) << c.device.rate;
    if (!c.known) continue;
    EXPECT_EQ(input, c.input) << c.device.rate;
    EXPECT_EQ(output, c.output) << c.device.rate;
  }
}

}  // namespace
}  // namespace asio_test
