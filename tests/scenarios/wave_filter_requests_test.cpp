// What the wave filter answers a client, request by request: intersections, pin creation,
// stream states, notification events, the miniport's own refusals, and requests whose bytes a
// hostile client chose.
#include <cstring>

#include "kernel/ob_host.h"
#include "portcls/pc_port_stream.h"
#include "miniport_wavert.h"
#include "os_path_fixture.h"
#include "sim/audioengine/ks_client.h"
#include "wavert_stream.h"

namespace tarnlink::scenarios::testing {
namespace {

namespace ks = sim::audioengine;

KSDATARANGE_AUDIO Client(ULONG channels, ULONG minRate, ULONG maxRate, ULONG bits = 24) {
  KSDATARANGE_AUDIO range = {};
  range.DataRange.FormatSize = sizeof(range);
  range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  range.MaximumChannels = channels;
  range.MinimumBitsPerSample = range.MaximumBitsPerSample = bits;
  range.MinimumSampleFrequency = minRate;
  range.MaximumSampleFrequency = maxRate;
  return range;
}

template <typename T>
std::vector<uint8_t> Bytes(const T& value) {
  std::vector<uint8_t> bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

class WaveFilterTest : public OsPathTest {
 protected:
  // The velmor-dac at a fixed 48 kHz with the engine's filter open; pins 0 render, 3 capture.
  void SetUp() override {
    OsPathTest::SetUp();
    machine->PresetHardwareDword(u"SampleRate", 48000);
    Plug("velmor-dac");
    OpenEngine();
  }
  HANDLE Filter() { return engine->Filter(); }
  // The format the filter proposes for the render pin at 48 kHz, 24 bits.
  std::vector<uint8_t> RenderFormat() {
    std::vector<uint8_t> format;
    EXPECT_EQ(ks::Intersect(Filter(), 0, Client(2, 48000, 48000), &format), STATUS_SUCCESS);
    return format;
  }
  CMiniportWaveRT* Miniport() {
    PMINIPORTSTREAMCONTROL control = Engine().ReferenceMiniport();
    control->Release();  // the subdevice keeps it
    return static_cast<CMiniportWaveRT*>(control);
  }
};

TEST_F(WaveFilterTest, IntersectionProposesTheWidestFormatAtTheFixedRate) {
  InKernel([&] {
    std::vector<uint8_t> request = ks::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, 0);
    const KSMULTIPLE_ITEM items = {sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO), 1};
    const auto itemBytes = Bytes(items);
    request.insert(request.end(), itemBytes.begin(), itemBytes.end());
    const auto rangeBytes = Bytes(Client(2, 48000, 48000));
    request.insert(request.end(), rangeBytes.begin(), rangeBytes.end());
    ULONG_PTR size = 0;
    EXPECT_EQ(ks::KsProperty(Filter(), request, nullptr, 0, &size), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(size, sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE));

    std::vector<uint8_t> format;
    ASSERT_EQ(ks::Intersect(Filter(), 0, Client(8, 8000, 768000, 32), &format), STATUS_SUCCESS);
    KSDATAFORMAT_WAVEFORMATEXTENSIBLE proposed = {};
    std::memcpy(&proposed, format.data(), sizeof(proposed));
    EXPECT_EQ(proposed.WaveFormatExt.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(proposed.WaveFormatExt.Format.nChannels, 2);
    EXPECT_EQ(proposed.WaveFormatExt.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(proposed.WaveFormatExt.Format.wBitsPerSample, 32);
    EXPECT_EQ(proposed.WaveFormatExt.dwChannelMask, ULONG{KSAUDIO_SPEAKER_STEREO});
    EXPECT_EQ(proposed.WaveFormatExt.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    EXPECT_EQ(proposed.DataFormat.SampleSize, 8u);

    // Mono never matches, even where the device could; a range without the fixed rate does not
    // either, while one that reaches it gets it.
    EXPECT_EQ(ks::Intersect(Filter(), 0, Client(1, 48000, 48000), &format), STATUS_NO_MATCH);
    EXPECT_EQ(ks::Intersect(Filter(), 0, Client(2, 44100, 44100), &format), STATUS_NO_MATCH);
    ASSERT_EQ(ks::Intersect(Filter(), 0, Client(2, 44100, 48000), &format), STATUS_SUCCESS);
    std::memcpy(&proposed, format.data(), sizeof(proposed));
    EXPECT_EQ(proposed.WaveFormatExt.Format.nSamplesPerSec, 48000u);
  });
}

TEST_F(WaveFilterTest, OneStreamPerDirection) {
  InKernel([&] {
    const std::vector<uint8_t> format = RenderFormat();
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    ASSERT_EQ(ks::CreatePin(Filter(), 0, format, &first), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(ks::CreatePin(Filter(), 0, format, &second)));
    // The miniport refuses a second render stream of its own accord too.
    PMINIPORTWAVERTSTREAM stream = nullptr;
    EXPECT_EQ(Miniport()->NewStream(&stream, nullptr, 0, FALSE,
                                    reinterpret_cast<PKSDATAFORMAT>(const_cast<uint8_t*>(format.data()))),
              STATUS_INSUFFICIENT_RESOURCES);
    std::vector<uint8_t> captureFormat;
    ASSERT_EQ(ks::Intersect(Filter(), 3, Client(2, 48000, 48000, 32), &captureFormat),
              STATUS_SUCCESS);
    HANDLE capturePin = nullptr;
    EXPECT_EQ(ks::CreatePin(Filter(), 3, captureFormat, &capturePin), STATUS_SUCCESS);
    ZwClose(capturePin);
    ZwClose(first);
  });
}

TEST_F(WaveFilterTest, StatesStepOneAtATimeAndDetachingRefusesNewStreams) {
  InKernel([&] {
    const std::vector<uint8_t> format = RenderFormat();
    // Straight from STOP to PAUSE is no transition a stream knows.
    portcls::CPortWaveRTStream* portStream = portcls::CPortWaveRTStream::Create();
    PMINIPORTWAVERTSTREAM stream = nullptr;
    ASSERT_EQ(Miniport()->NewStream(&stream, portStream, 0, FALSE,
                                    reinterpret_cast<PKSDATAFORMAT>(const_cast<uint8_t*>(format.data()))),
              STATUS_SUCCESS);
    EXPECT_EQ(stream->SetState(KSSTATE_PAUSE), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(stream->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(stream->SetState(KSSTATE_RUN), STATUS_INVALID_PARAMETER);
    stream->Release();
    portStream->Release();

    HANDLE pin = nullptr;
    Miniport()->DetachAll();
    EXPECT_EQ(ks::CreatePin(Filter(), 0, format, &pin), STATUS_DELETE_PENDING);
  });
}

TEST_F(WaveFilterTest, RegisteringAnEventTwiceUnregistersIt) {
  InKernel([&] {
    const std::vector<uint8_t> format = RenderFormat();
    HANDLE pin = nullptr;
    ASSERT_EQ(ks::CreatePin(Filter(), 0, format, &pin), STATUS_SUCCESS);
    KSRTAUDIO_BUFFER buffer = {};
    ASSERT_EQ(ks::AllocateBuffer(pin, 3840, 2, &buffer), STATUS_SUCCESS);
    EXPECT_EQ(buffer.ActualBufferSize, 3840u);
    PVOID object = nullptr;
    ASSERT_EQ(ObHostCreateObject(*ExEventObjectType, sizeof(KEVENT), 0, &object), STATUS_SUCCESS);
    auto* event = static_cast<PKEVENT>(object);
    KeInitializeEvent(event, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(ObHostInsertHandle(PsGetCurrentProcess(), object, EVENT_ALL_ACCESS,
                                 OBJ_KERNEL_HANDLE, &handle),
              STATUS_SUCCESS);
    ObDereferenceObject(object);
    EXPECT_EQ(ks::RegisterEvent(pin, handle), STATUS_SUCCESS);
    EXPECT_EQ(ks::RegisterEvent(pin, handle), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(ks::RegisterEvent(pin, handle, false), STATUS_NOT_FOUND);
    ASSERT_EQ(ks::SetState(pin, KSSTATE_RUN), STATUS_SUCCESS);
    LARGE_INTEGER wait;
    wait.QuadPart = -200 * 10000LL;
    EXPECT_EQ(KeWaitForSingleObject(event, Executive, KernelMode, FALSE, &wait), STATUS_TIMEOUT);
    ZwClose(pin);
    ZwClose(handle);
  });
}

TEST_F(WaveFilterTest, PowerNoticesOutsideTheDeviceStatesChangeNothing) {
  CMiniportWaveRT* miniport = Miniport();
  for (ULONG state : {1u, 0u, 5u}) {
    POWER_STATE power = {};
    power.DeviceState = static_cast<DEVICE_POWER_STATE>(state);
    miniport->PowerChangeNotify(power);
    EXPECT_EQ(miniport->PowerState(), 1u) << state;
  }
  POWER_STATE d3 = {};
  d3.DeviceState = PowerDeviceD3;
  miniport->PowerChangeNotify(d3);
  EXPECT_EQ(miniport->PowerState(), 4u);
}

// Requests whose bytes a client chose: each is refused with a status, reads nothing past what
// the client gave, and leaves the filter working.
TEST_F(WaveFilterTest, HostileRequestsAreRefused) {
  InKernel([&] {
    const std::vector<uint8_t> format = RenderFormat();
    KSPIN_CONNECT connect = {};
    auto pinName = [&](const std::vector<uint8_t>& bytes) {
      std::vector<uint8_t> padded = bytes;
      if (padded.size() % 2) padded.push_back(0);
      std::u16string name = KSSTRING_Pin u"\\";
      const size_t at = name.size();
      name.resize(at + padded.size() / 2);
      std::memcpy(name.data() + at, padded.data(), padded.size());
      return name;
    };
    auto createRaw = [&](const std::vector<uint8_t>& bytes) {
      const std::u16string name = pinName(bytes);
      UNICODE_STRING path = {static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                             const_cast<PWSTR>(reinterpret_cast<const WCHAR*>(name.data()))};
      OBJECT_ATTRIBUTES attributes = {};
      InitializeObjectAttributes(&attributes, &path, OBJ_KERNEL_HANDLE, Filter(), nullptr);
      IO_STATUS_BLOCK io = {};
      HANDLE pin = nullptr;
      NTSTATUS status = ZwCreateFile(&pin, GENERIC_READ, &attributes, &io, nullptr, 0, 0,
                                     FILE_OPEN, 0, nullptr, 0);
      if (NT_SUCCESS(status)) ZwClose(pin);
      return status;
    };
    auto connectWith = [&](ULONG pinId, std::vector<uint8_t> tail) {
      connect.PinId = pinId;
      std::vector<uint8_t> bytes = Bytes(connect);
      bytes.insert(bytes.end(), tail.begin(), tail.end());
      return bytes;
    };
    std::vector<uint8_t> oversized = format;
    KSDATAFORMAT header = {};
    std::memcpy(&header, oversized.data(), sizeof(header));
    header.FormatSize = 4096;
    std::memcpy(oversized.data(), &header, sizeof(header));
    std::vector<uint8_t> shortWave = format;
    header.FormatSize = sizeof(KSDATAFORMAT) + 4;
    std::memcpy(shortWave.data(), &header, sizeof(header));
    shortWave.resize(header.FormatSize);

    EXPECT_FALSE(NT_SUCCESS(createRaw({1, 2, 3})));                      // no connect record
    EXPECT_FALSE(NT_SUCCESS(createRaw(connectWith(0, {}))));             // no format
    EXPECT_FALSE(NT_SUCCESS(createRaw(connectWith(0, oversized))));      // format past the end
    EXPECT_FALSE(NT_SUCCESS(createRaw(connectWith(0, shortWave))));      // wave format cut short
    EXPECT_FALSE(NT_SUCCESS(createRaw(connectWith(1, format))));         // a bridge pin
    EXPECT_FALSE(NT_SUCCESS(createRaw(connectWith(0xFFFFFFFF, format))));  // no such pin

    // Properties: too short for their instance, an intersection list longer than the request,
    // a client range of no size, a pin that does not exist.
    std::vector<uint8_t> bare = ks::PropertyRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW,
                                                    KSPROPERTY_TYPE_GET);
    ULONG value = 0;
    EXPECT_EQ(ks::KsProperty(Filter(), bare, &value, sizeof(value)), STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> intersection =
        ks::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, 0);
    const auto overlong = Bytes(KSMULTIPLE_ITEM{4096, 1});
    std::vector<uint8_t> request = intersection;
    request.insert(request.end(), overlong.begin(), overlong.end());
    std::vector<uint8_t> out(104);
    EXPECT_EQ(ks::KsProperty(Filter(), request, out.data(), 104), STATUS_INVALID_PARAMETER);
    KSDATARANGE empty = {};
    const auto items = Bytes(KSMULTIPLE_ITEM{sizeof(KSMULTIPLE_ITEM) + sizeof(empty), 1});
    request = intersection;
    request.insert(request.end(), items.begin(), items.end());
    const auto emptyBytes = Bytes(empty);
    request.insert(request.end(), emptyBytes.begin(), emptyBytes.end());
    EXPECT_EQ(ks::KsProperty(Filter(), request, out.data(), 104), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::PinValue(Filter(), KSPROPERTY_PIN_DATAFLOW, 99, &value), STATUS_INVALID_PARAMETER);

    // Pin requests: a buffer of no size or beyond reason, a handle that is no event.
    HANDLE pin = nullptr;
    ASSERT_EQ(ks::CreatePin(Filter(), 0, format, &pin), STATUS_SUCCESS);
    KSRTAUDIO_BUFFER buffer = {};
    EXPECT_EQ(ks::AllocateBuffer(pin, 0, 2, &buffer), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::AllocateBuffer(pin, 0x7FFFFFFF, 2, &buffer), STATUS_INVALID_PARAMETER);
    EXPECT_FALSE(NT_SUCCESS(ks::RegisterEvent(pin, pin)));
    ULONG bogus = 7;  // no state
    EXPECT_EQ(ks::KsProperty(pin, ks::PropertyRequest(KSPROPSETID_Connection,
                                                      KSPROPERTY_CONNECTION_STATE,
                                                      KSPROPERTY_TYPE_SET),
                             &bogus, sizeof(bogus)),
              STATUS_INVALID_PARAMETER);
    ZwClose(pin);
    // The filter still serves a well-formed client.
    ASSERT_EQ(ks::CreatePin(Filter(), 0, format, &pin), STATUS_SUCCESS);
    ZwClose(pin);
  });
}

}  // namespace
}  // namespace tarnlink::scenarios::testing
