// A refused device is reported with the reason the driver's own trace points give, and a refused
// configuration with the side that refused it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device_report.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/forwarding_device.h"
#include "sim/devices/uac_device.h"

namespace tarnlink::tool {
namespace {

using Configuration = std::vector<uint8_t>;

// The offset of the first descriptor of `type` whose byte `at` is `value`, from the start.
size_t FindDescriptor(const Configuration& c, uint8_t type, size_t at, uint8_t value) {
  for (size_t offset = 0; offset + at < c.size() && c[offset] != 0; offset += c[offset]) {
    if (c[offset + 1] == type && c[offset + at] == value) return offset;
  }
  ADD_FAILURE() << "no such descriptor";
  return 0;
}

constexpr uint8_t kInterface = 0x04;
constexpr uint8_t kCsInterface = 0x24;

struct RefusalCase {
  const char* name;
  std::function<void(Configuration&)> damage;
  const char* reason;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class RefusalReasonTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalReasonTest, NamesWhatTheDriverTraced) {
  const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry("velmor-dac");
  ASSERT_NE(entry, nullptr);
  sim::devices::DescriptorImage image = sim::devices::BuildImage(entry->spec);
  GetParam().damage(image.configuration);
  DeviceReport report;
  std::string failure;
  ASSERT_TRUE(StartAdapter(
      std::make_unique<sim::devices::UacDevice>(entry->spec, image, entry->behaviour),
      sim::devices::UsbSpeed::High, sim::machine::Binding::Whole, {},
      [&](UsbAudioAdapter* adapter, const StartOutcome& outcome) {
        report = CollectReport(adapter, outcome);
      },
      &failure))
      << failure;
  EXPECT_TRUE(report.refused);
  EXPECT_NE(report.reason.find(GetParam().reason), std::string::npos) << report.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, RefusalReasonTest,
    ::testing::Values(RefusalCase{"AudioControlClassGone",
                                  [](Configuration& c) {
                                    c[FindDescriptor(c, kInterface, 6, 0x01) + 5] = 0x42;
                                  },
                                  "no audio control interface"},
                      RefusalCase{"HeaderSubtypeGone",
                                  [](Configuration& c) {
                                    c[FindDescriptor(c, kCsInterface, 2, 0x01) + 2] = 0x7F;
                                  },
                                  "no valid HEADER"},
                      RefusalCase{"TerminalLinkDangles",
                                  [](Configuration& c) {
                                    // AS_GENERAL after the first alternate setting 1 names ID 0x77.
                                    size_t at = FindDescriptor(c, kInterface, 3, 0x01);
                                    while (!(c[at + 1] == kCsInterface && c[at + 2] == 0x01))
                                      at += c[at];
                                    c[at + 3] = 0x77;
                                  },
                                  "could not be modelled"}),
    [](const auto& test) { return std::string(test.param.name); });

// Stalls the standard requests stall() picks, as firmware that refuses them would.
class Staller : public sim::devices::ForwardingDevice {
 public:
  Staller(std::unique_ptr<UsbDevice> inner,
          std::function<bool(const USB_DEFAULT_PIPE_SETUP_PACKET&)> stall)
      : ForwardingDevice(std::move(inner)), stall_(std::move(stall)) {}
  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override {
    if ((setup.bmRequestType.B & 0x60) == 0 && stall_(setup))
      return sim::devices::ControlResult::Stall();
    return ForwardingDevice::Control(time, setup, data);
  }

 private:
  std::function<bool(const USB_DEFAULT_PIPE_SETUP_PACKET&)> stall_;
};

// Each start is refused at a different step of the adapter's initialisation; StartAdapter's
// unload proves that none of them leaves anything behind.
TEST(StartRefusalTest, NamesTheStepAndTheSideThatRefused) {
  struct Case {
    const char* what;
    std::unique_ptr<sim::devices::UsbDevice> device;
    sim::machine::Binding binding;
    const char* reason;
  };
  const auto velmor = [] { return sim::devices::MakeCatalogueDevice("velmor-dac"); };
  Case cases[] = {
      // Bound whole, the driver asks for its audio interfaces alone; the USB stack checks the
      // list against the configuration and refuses before the device hears of it.
      {"host", sim::devices::MakeCatalogueDevice("composite-hid-midi"),
       sim::machine::Binding::Whole,
       "the host's USB stack refused the configuration before asking the device"},
      {"device",
       std::make_unique<Staller>(velmor(),
                                 [](const USB_DEFAULT_PIPE_SETUP_PACKET& s) {
                                   return s.bRequest == USB_REQUEST_SET_CONFIGURATION;
                                 }),
       sim::machine::Binding::Function,
       "the device refused the configuration: it stalled SET_CONFIGURATION"},
      {"product string",
       std::make_unique<Staller>(velmor(),
                                 [](const USB_DEFAULT_PIPE_SETUP_PACKET& s) {
                                   return s.bRequest == USB_REQUEST_GET_DESCRIPTOR &&
                                          s.wValue.HiByte == USB_STRING_DESCRIPTOR_TYPE &&
                                          s.wValue.LowByte != 0;
                                 }),
       sim::machine::Binding::Function, "the device's product string could not be read"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceReport report;
    std::string failure;
    ASSERT_TRUE(StartAdapter(
        std::move(c.device), sim::devices::UsbSpeed::High, c.binding, {},
        [&](UsbAudioAdapter* adapter, const StartOutcome& outcome) {
          report = CollectReport(adapter, outcome);
        },
        &failure))
        << failure;
    EXPECT_TRUE(report.refused);
    EXPECT_NE(report.reason.find(c.reason), std::string::npos) << report.reason;
  }
}

}  // namespace
}  // namespace tarnlink::tool
