// The private channel through a client process: every state-bound request in every state,
// clean-up from every state, two handles racing for the device, the device's answers, prepare's
// refusals, and a device that goes away under open handles.
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "asio_channel_fixture.h"
#include "kernel/machine.h"
#include "sim/devices/catalogue.h"
#include "user_mode.h"

namespace tarnlink::asioctl::testing {
namespace {

using ::testing::ElementsAre;

class AsioRequestsTest : public AsioChannelTest {
 protected:
  void SetUp() override {
    AsioChannelTest::SetUp();
    Plug(sim::devices::kDefaultDeviceName);
    RegisterWaveInterface();
  }

  // What a client sees of the device's streams once every handle is gone.
  void ExpectDeviceFree() {
    EXPECT_EQ(*Adapter()->AsioOwnerWord(), 0);
    EXPECT_FALSE(Stream().IsStarted());
    EXPECT_FALSE(Stream().HasCaptureRing());
    EXPECT_FALSE(Stream().HasPlaybackRing());
    EXPECT_EQ(Engine().OpenCount(kDirectionPlayback), 0u);
    EXPECT_EQ(Engine().OpenCount(kDirectionCapture), 0u);
    EXPECT_TRUE(kernel().machine().userMappings().All().empty());
  }
};

struct StateCase {
  ULONG code;
  ULONG from;      // the state the request needs; AsioHandleClosed: any
  ULONG to;        // the state after it succeeds
  ULONG outBytes;  // what it returns on success
};

// The state-bound requests, and one served in every state.
const StateCase kStateCases[] = {
    {IOCTL_ASIO_ACQUIRE, AsioHandleOpened, AsioHandleAcquired, 0},
    {IOCTL_ASIO_PREPARE, AsioHandleAcquired, AsioHandlePrepared, sizeof(PrepareResult)},
    {IOCTL_ASIO_START, AsioHandlePrepared, AsioHandleRunning, 0},
    {IOCTL_ASIO_STOP, AsioHandleRunning, AsioHandlePrepared, 0},
    {IOCTL_ASIO_UNPREPARE, AsioHandlePrepared, AsioHandleAcquired, 0},
    {IOCTL_ASIO_RELEASE, AsioHandleAcquired, AsioHandleOpened, 0},
    {IOCTL_ASIO_ARM, AsioHandleRunning, AsioHandleRunning, 0},
    {IOCTL_ASIO_GET_START_TIME, AsioHandleRunning, AsioHandleRunning, 8},
    {IOCTL_ASIO_SET_START_TIME, AsioHandleRunning, AsioHandleRunning, 0},
    {IOCTL_ASIO_NOP, AsioHandleClosed, AsioHandleClosed, 0},
};

TEST_F(AsioRequestsTest, EveryStateBoundRequestInEveryState) {
  for (ULONG state = AsioHandleOpened; state <= AsioHandleRunning; ++state) {
    for (const StateCase& c : kStateCases) {
      SCOPED_TRACE(::testing::Message() << "state " << state << " code " << std::hex << c.code);
      AsUser([&] {
        AsioClient client;
        BringTo(client, state);
        std::vector<uint8_t> buffer(64, 0);
        ULONG in = 8;
        if (c.code == IOCTL_ASIO_PREPARE) {
          client.CreateEvents();
          const PrepareRequest request = Duplex(64, client);
          std::memcpy(buffer.data(), &request, sizeof request);
          in = sizeof request;
        }
        const Reply reply = client.Send(c.code, buffer.data(), in, buffer.data(), 16);
        const bool allowed = c.from == AsioHandleClosed || c.from == state;
        EXPECT_EQ(reply.status, allowed ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL);
        EXPECT_EQ(reply.bytes, allowed ? c.outBytes : 0u);
        const ULONG expected = allowed && c.to != AsioHandleClosed ? c.to : state;
        EXPECT_EQ(StateOf(client), expected);
        client.Close();
        client.CloseEvents();
      });
      ExpectDeviceFree();
    }
  }
}

TEST_F(AsioRequestsTest, ClosingAHandleUnwindsWhateverItHeld) {
  for (ULONG state = AsioHandleOpened; state <= AsioHandleRunning; ++state) {
    SCOPED_TRACE(::testing::Message() << "state " << state);
    AsUser([&] {
      AsioClient client;
      BringTo(client, state);
      EXPECT_EQ(Stream().IsStarted(), state == AsioHandleRunning);
      client.Close();
      ExpectDeviceFree();
      // Everything is free again: another handle takes the device the whole way.
      AsioClient next;
      BringTo(next, AsioHandleRunning);
      next.Close();
      client.CloseEvents();
      next.CloseEvents();
    });
    ExpectDeviceFree();
  }
}

// A process that ends with its handle still open: its clean-up unmaps the rings before the
// process is gone, or the machine would stop.
TEST_F(AsioRequestsTest, AProcessEndingMidStreamLeavesNothingMapped) {
  AsUser([&] {
    AsioClient client;
    BringTo(client, AsioHandleRunning);
    EXPECT_EQ(kernel().machine().userMappings().Of(PsGetCurrentProcess()).size(), 2u);
  });
  ExpectDeviceFree();
}

TEST_F(AsioRequestsTest, OneOfTwoRacingHandlesOwnsTheDevice) {
  AsUser([&] {
    AsioClient first;
    AsioClient second;
    ASSERT_EQ(first.Open(WavePath()), STATUS_SUCCESS);
    ASSERT_EQ(second.Open(WavePath()), STATUS_SUCCESS);
    NTSTATUS statuses[2] = {};
    HANDLE threads[2] = {};
    AsioClient* clients[2] = {&first, &second};
    struct Race {
      AsioClient* client;
      NTSTATUS* status;
    } races[2] = {{clients[0], &statuses[0]}, {clients[1], &statuses[1]}};
    for (int i = 0; i < 2; ++i) {
      threads[i] = CreateThread(
          nullptr, 0,
          [](LPVOID context) -> DWORD {
            auto* race = static_cast<Race*>(context);
            *race->status = race->client->Status(IOCTL_ASIO_ACQUIRE);
            return 0;
          },
          &races[i], 0, nullptr);
      ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_THAT(std::vector<NTSTATUS>(statuses, statuses + 2),
                ::testing::UnorderedElementsAre(STATUS_SUCCESS, STATUS_DEVICE_BUSY));
    AsioClient& winner = statuses[0] == STATUS_SUCCESS ? first : second;
    AsioClient& loser = statuses[0] == STATUS_SUCCESS ? second : first;
    EXPECT_EQ(StateOf(loser), static_cast<ULONG>(AsioHandleOpened));
    winner.Close();
    EXPECT_EQ(loser.Status(IOCTL_ASIO_ACQUIRE), STATUS_SUCCESS);
    loser.Close();
  });
  ExpectDeviceFree();
}

TEST_F(AsioRequestsTest, TheDeviceAnswersItsQueries) {
  AsUser([&] {
    AsioClient client;
    ASSERT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_FIXED_RATE), Adapter()->FixedRate());
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_DSD_NATIVE), 1u);
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_BUS_SPEED), 2u);
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_CAPTURE_PERIOD_MS), 1u);
    EXPECT_EQ(client.Word(IOCTL_ASIO_GET_INTERRUPTED), 0u);
    RateRange range = {};
    EXPECT_EQ(client.Send(IOCTL_ASIO_GET_RATE_RANGE, nullptr, 0, &range, sizeof range).bytes, 8u);
    EXPECT_LE(range.lowestRate, 44100u);
    EXPECT_GE(range.highestRate, 768000u);

    // The product string: its length alone, then all of it.
    const ULONG units = Adapter()->ProductString().CharacterCount();
    ASSERT_GT(units, 0u);
    std::vector<uint8_t> reply(units * 2 + 6, 0xEE);
    Reply r = client.Send(IOCTL_ASIO_GET_PRODUCT_STRING, nullptr, 0, reply.data(), 6);
    EXPECT_EQ(r.status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(r.bytes, 6u);
    ULONG length = 0;
    std::memcpy(&length, reply.data(), 4);
    EXPECT_EQ(length, units);
    EXPECT_EQ(reply[4] | reply[5], 0);
    r = client.Send(IOCTL_ASIO_GET_PRODUCT_STRING, nullptr, 0, reply.data(),
                    static_cast<ULONG>(reply.size()));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.bytes, reply.size());
    EXPECT_EQ(reply[reply.size() - 2] | reply[reply.size() - 1], 0);
    EXPECT_EQ(reply[4] | (reply[5] << 8), Adapter()->ProductString().CharacterAt(0));

    // Thirteen pairs in 286 bytes, the ones the device cannot carry answered with zeros; 21
    // bytes hold no whole pair.
    FormatQueryRecord records[13] = {};
    for (ULONG i = 0; i < 13; ++i) {
      records[i].formatTag = ASIO_FORMAT_PCM;
      records[i].sampleRate = i == 12 ? 12345 : 44100 * (i + 1);
    }
    r = client.Send(IOCTL_ASIO_QUERY_FORMATS, records, sizeof records, records, sizeof records);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.bytes, 286u);
    // Packed fields are read by value: the records' words are not aligned.
    EXPECT_GT(ULONG{records[0].playbackChannels}, 0u);
    EXPECT_GT(ULONG{records[0].captureBits}, 0u);
    EXPECT_EQ(ULONG{records[12].playbackChannels}, 0u);
    EXPECT_EQ(ULONG{records[12].captureBits}, 0u);
    r = client.Send(IOCTL_ASIO_QUERY_FORMATS, records, 21, records, 21);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.bytes, 0u);
    client.Close();
  });
}

TEST_F(AsioRequestsTest, APrepareTheDeviceCannotServeIsRefusedAndLeavesNothing) {
  struct Case {
    const char* name;
    void (*change)(PrepareRequest&);
    NTSTATUS status;
  };
  const Case cases[] = {
      {"format tag 0 (64-bit float)", [](PrepareRequest& r) { r.formatTag = 0; },
       STATUS_INVALID_DEVICE_REQUEST},
      {"DSD as float", [](PrepareRequest& r) { r.dsd = 1, r.formatTag = ASIO_FORMAT_FLOAT; },
       STATUS_INVALID_DEVICE_REQUEST},
      {"period 0", [](PrepareRequest& r) { r.periodFrames = 0; }, STATUS_INVALID_PARAMETER},
      {"no direction", [](PrepareRequest& r) { r.captureWanted = r.playbackWanted = 0; },
       STATUS_INVALID_PARAMETER},
      {"a period no ring can hold", [](PrepareRequest& r) { r.periodFrames = 0x7FFFFFFF; },
       STATUS_INVALID_PARAMETER},
      {"an event handle of nothing", [](PrepareRequest& r) { r.outputEvent = 0x7FFC; },
       STATUS_INVALID_HANDLE},
      {"the process's own handle", [](PrepareRequest& r) { r.periodEvent = ~0ull; },
       STATUS_OBJECT_TYPE_MISMATCH},
  };
  AsUser([&] {
    AsioClient client;
    BringTo(client, AsioHandleAcquired);
    client.CreateEvents();
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      PrepareRequest request = Duplex(64, client);
      c.change(request);
      PrepareResult result = {};
      const Reply reply = client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &result, 16);
      EXPECT_EQ(reply.status, c.status);
      EXPECT_EQ(reply.bytes, 0u);
      EXPECT_EQ(StateOf(client), static_cast<ULONG>(AsioHandleAcquired));
      EXPECT_FALSE(Stream().HasCaptureRing() || Stream().HasPlaybackRing());
      EXPECT_TRUE(kernel().machine().userMappings().All().empty());
    }
    // The claims went back each time: a good prepare still gets both directions.
    const PrepareRequest good = Duplex(64, client);
    PrepareResult result = {};
    EXPECT_EQ(client.Send(IOCTL_ASIO_PREPARE, &good, sizeof good, &result, 16).status,
              STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
  });
  ExpectDeviceFree();
}

// The rings as the client finds them: its own mappings, not the kernel's, sized for the period,
// all fill bytes.
TEST_F(AsioRequestsTest, PrepareMapsBothRingsIntoTheClient) {
  AsUser([&] {
    AsioClient client;
    PrepareResult rings = {};
    BringTo(client, AsioHandlePrepared, &rings);
    const ClientRing capture(rings.captureRing);
    const ClientRing playback(rings.playbackRing);
    ASSERT_TRUE(capture.Mapped() && playback.Mapped());
    const auto mappings = kernel().machine().userMappings().Of(PsGetCurrentProcess());
    ASSERT_EQ(mappings.size(), 2u);
    for (const auto& mapping : mappings) {
      EXPECT_EQ(mapping.priority & MdlMappingNoExecute, static_cast<ULONG>(MdlMappingNoExecute));
      EXPECT_EQ(mapping.cacheType, static_cast<ULONG>(MmCached));
    }
    const ULONG frameBytes = capture.FrameBytes();
    EXPECT_EQ(capture.RingBytes(), 3 * 768 * frameBytes);
    EXPECT_EQ(playback.RingBytes(), 4 * 768 * playback.FrameBytes());
    EXPECT_EQ(capture.Fill(), 0u);
    client.Close();
    client.CloseEvents();
  });
}

// After a surprise removal a new private handle is refused; the ones already open are still
// served and still close.
TEST_F(AsioRequestsTest, AfterRemovalOpenHandlesStillWorkAndNewOnesAreRefused) {
  PEPROCESS process = StartProcess();
  AsioClient client;
  InProcess(process, [&] { BringTo(client, AsioHandleRunning); });
  machine->SurpriseRemoveDevice();
  InProcess(process, [&] {
    AsioClient late;
    EXPECT_EQ(late.Open(WavePath()), STATUS_DELETE_PENDING);
    EXPECT_EQ(client.Status(IOCTL_ASIO_NOP), STATUS_SUCCESS);
    EXPECT_EQ(client.Status(IOCTL_ASIO_STOP), STATUS_SUCCESS);
    client.Close();
    client.CloseEvents();
  });
  EndProcess(process);
  EXPECT_TRUE(kernel().machine().userMappings().All().empty());
  EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
}

}  // namespace
}  // namespace tarnlink::asioctl::testing
