// The C device interface: the example library behaves exactly as the built-in device it wraps,
// and the host side checks whatever a library answers.
#include "sim/devices/library_device.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "device_host.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/device_export.h"

namespace sim::devices {
namespace {

using testing::DeviceHost;
using testing::Le;

// Drives a device through enumeration, clock requests, both streams at 96 kHz and a few
// mistakes, writing down every answer.
std::string Transcript(UsbDevice& device) {
  std::ostringstream out;
  DeviceHost host(device);
  const auto in = [&](uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                      uint16_t length) {
    const testing::Reply r = host.In(type, request, value, index, length);
    out << (r.stalled ? "stall" : "ack") << ':';
    for (uint8_t b : r.data) out << int{b} << ',';
    out << '\n';
  };
  const auto outRequest = [&](uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                              std::vector<uint8_t> data) {
    out << (host.Out(type, request, value, index, std::move(data)) ? "ack" : "stall") << '\n';
  };
  out << "speed " << int(device.MaximumSpeed()) << '\n';
  in(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18);
  in(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0200, 0, 1024);
  for (uint16_t string = 0; string < 4; ++string) {
    in(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0300 | string, 0x0409, 255);
  }
  in(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0700, 0, 64);  // other speed: may stall
  host.Configure();
  for (uint16_t clock = 1; clock <= 3; ++clock) {
    in(0xA1, 0x02, 0x0100, static_cast<uint16_t>(clock << 8), 2 + 12 * 8);  // RANGE
    in(0xA1, 0x01, 0x0100, static_cast<uint16_t>(clock << 8), 4);           // CUR
  }
  outRequest(0x21, 0x01, 0x0100, 3 << 8, {2});              // selector: the 48 kHz family
  outRequest(0x21, 0x01, 0x0100, 2 << 8, Le(96000, 4));    // its rate
  out << host.SetInterface(1, 3) << host.SetInterface(2, 3) << '\n';
  host.Idle(64);  // the clock settles

  // A second of both streams: 12 frames of two 32-bit channels per microframe.
  std::vector<uint8_t> packet(96);
  std::vector<uint8_t> buffer(1024);
  for (int tick = 0; tick < 8000; ++tick) {
    host.Tick();
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<uint8_t>(tick + i);
    out << int(device.IsoOut(host.Time(), 0x01, packet));
    const IsoInResult capture = device.IsoIn(host.Time(), 0x82, std::span(buffer).first(776));
    out << int(capture.status) << ':' << capture.length << ':';
    for (size_t i = 0; i < capture.length; ++i) out << int{buffer[i]} << ',';
    if (tick % 8 == 0) {
      const IsoInResult feedback = device.IsoIn(host.Time(), 0x81, std::span(buffer).first(4));
      out << "fb" << int(feedback.status) << ':';
      for (size_t i = 0; i < feedback.length; ++i) out << int{buffer[i]} << ',';
    }
    out << '\n';
  }
  // Mistakes: a packet larger than the endpoint, an endpoint that does not exist.
  host.Tick();
  out << int(device.IsoOut(host.Time(), 0x01, std::vector<uint8_t>(2000))) << ' '
      << int(device.IsoIn(host.Time(), 0x85, buffer).status) << '\n';
  return out.str();
}

TEST(LibraryDeviceTest, ExampleLibraryBehavesAsTheBuiltInDevice) {
  std::string error;
  std::unique_ptr<LibraryDevice> library = LibraryDevice::Load(TARNLINK_EXAMPLE_DEVICE, &error);
  ASSERT_NE(library, nullptr) << error;
  std::unique_ptr<UacDevice> builtIn = MakeCatalogueDevice(kDefaultDeviceName);

  const std::string expected = Transcript(*builtIn);
  const std::string actual = Transcript(*library);
  // The script reaches the streams: capture data and feedback values flow.
  EXPECT_NE(expected.find("fb0:"), std::string::npos);
  EXPECT_EQ(builtIn->FeedbackPackets(), 1000u);
  ASSERT_EQ(expected.size(), actual.size());
  EXPECT_TRUE(expected == actual) << "the library's answers differ from the built-in device's";
}

TEST(LibraryDeviceTest, LoadingFailuresAreMessages) {
  std::string error;
  EXPECT_EQ(LibraryDevice::Load("/nonexistent/device.so", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/device.so"), std::string::npos) << error;
}

// --- a library that misbehaves -------------------------------------------------------------

// What the fake library answers.
struct Behaviour {
  uint8_t controlStatus = TARNLINK_CONTROL_ACK;
  uint32_t controlLength = 0;
  uint8_t isoStatus = TARNLINK_ISO_OK;
  uint32_t isoLength = 0;
};
Behaviour gBehaviour;
TarnlinkDevice* const kFakeDevice = reinterpret_cast<TarnlinkDevice*>(0x1000);

TarnlinkDeviceFunctions FakeTable() {
  TarnlinkDeviceFunctions f = {};
  f.abi_version = TARNLINK_DEVICE_ABI_VERSION;
  f.size = sizeof(TarnlinkDeviceFunctions);
  f.create = [] { return kFakeDevice; };
  f.destroy = [](TarnlinkDevice*) {};
  f.maximum_speed = [](const TarnlinkDevice*) { return uint8_t{TARNLINK_SPEED_HIGH}; };
  f.reset = [](TarnlinkDevice*, uint8_t) {};
  f.start_of_frame = [](TarnlinkDevice*, const TarnlinkBusTime*) {};
  f.control = [](TarnlinkDevice*, const TarnlinkBusTime*, const TarnlinkSetupPacket*, uint8_t*,
                 uint32_t* transferred) {
    *transferred = gBehaviour.controlLength;
    return gBehaviour.controlStatus;
  };
  f.iso_out = [](TarnlinkDevice*, const TarnlinkBusTime*, uint8_t, const uint8_t*, uint32_t) {
    return gBehaviour.isoStatus;
  };
  f.iso_in = [](TarnlinkDevice*, const TarnlinkBusTime*, uint8_t, uint8_t*, uint32_t,
                uint32_t* length) {
    *length = gBehaviour.isoLength;
    return gBehaviour.isoStatus;
  };
  return f;
}

struct TableCase {
  const char* name;
  void (*spoil)(TarnlinkDeviceFunctions&);
  const char* error;
};

class LibraryTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(LibraryTableTest, IsRefusedBeforeAnyDeviceIsMade) {
  TarnlinkDeviceFunctions table = FakeTable();
  GetParam().spoil(table);
  std::string error;
  EXPECT_EQ(LibraryDevice::Create(&table, nullptr, &error), nullptr);
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, LibraryTableTest,
    ::testing::Values(
        TableCase{"OtherVersion", [](TarnlinkDeviceFunctions& f) { f.abi_version = 2; },
                  "version 2"},
        TableCase{"Shorter", [](TarnlinkDeviceFunctions& f) { f.size = 16; }, "shorter"},
        TableCase{"MissingFunction", [](TarnlinkDeviceFunctions& f) { f.iso_in = nullptr; },
                  "lacks a function"},
        TableCase{"NoDevice",
                  [](TarnlinkDeviceFunctions& f) {
                    f.create = []() -> TarnlinkDevice* { return nullptr; };
                  },
                  "made no device"}),
    [](const ::testing::TestParamInfo<TableCase>& param) { return param.param.name; });

TEST(LibraryDeviceTest, AnswersAreCheckedAsOnTheWire) {
  const TarnlinkDeviceFunctions table = FakeTable();
  std::string error;
  std::unique_ptr<LibraryDevice> device = LibraryDevice::Create(&table, nullptr, &error);
  ASSERT_NE(device, nullptr) << error;
  DeviceHost host(*device);
  std::vector<uint8_t> buffer(8);

  gBehaviour = {TARNLINK_CONTROL_ACK, 5000, TARNLINK_ISO_OK, 9};
  EXPECT_EQ(host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18).data.size(), 18u);
  EXPECT_EQ(device->IsoIn(host.Time(), 0x82, buffer).status, IsoStatus::Babble);

  gBehaviour = {7, 0, 9, 0};  // statuses outside the interface's set
  EXPECT_TRUE(host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18).stalled);
  EXPECT_EQ(device->IsoIn(host.Time(), 0x82, buffer).status, IsoStatus::NoResponse);
  EXPECT_EQ(device->IsoOut(host.Time(), 0x01, buffer), IsoStatus::NoResponse);
}

// The export side: a C++ device that throws answers as a device that stalls or stays silent.
class ThrowingDevice : public UsbDevice {
 public:
  UsbSpeed MaximumSpeed() const override { return UsbSpeed::High; }
  void Reset(UsbSpeed) override { throw std::runtime_error("reset"); }
  void StartOfFrame(const BusTime&) override { throw std::runtime_error("sof"); }
  ControlResult Control(const BusTime&, const USB_DEFAULT_PIPE_SETUP_PACKET&,
                        std::span<uint8_t>) override {
    throw std::runtime_error("control");
  }
  IsoStatus IsoOut(const BusTime&, uint8_t, std::span<const uint8_t>) override {
    throw std::runtime_error("out");
  }
  IsoInResult IsoIn(const BusTime&, uint8_t, std::span<uint8_t>) override {
    throw std::runtime_error("in");
  }
};

std::unique_ptr<UsbDevice> MakeThrowingDevice() { return std::make_unique<ThrowingDevice>(); }
std::unique_ptr<UsbDevice> FailToMakeDevice() { throw std::runtime_error("no device"); }

TEST(DeviceExportTest, NoExceptionCrossesTheInterface) {
  std::string error;
  EXPECT_EQ(LibraryDevice::Create(ExportDeviceFunctions<FailToMakeDevice>(), nullptr, &error),
            nullptr);
  std::unique_ptr<LibraryDevice> device =
      LibraryDevice::Create(ExportDeviceFunctions<MakeThrowingDevice>(), nullptr, &error);
  ASSERT_NE(device, nullptr) << error;
  DeviceHost host(*device);  // resets
  host.Tick();
  std::vector<uint8_t> buffer(8);
  EXPECT_TRUE(host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0100, 0, 18).stalled);
  EXPECT_EQ(device->IsoOut(host.Time(), 0x01, buffer), IsoStatus::NoResponse);
  EXPECT_EQ(device->IsoIn(host.Time(), 0x82, buffer).status, IsoStatus::NoResponse);
}

}  // namespace
}  // namespace sim::devices
