#include <gtest/gtest.h>

#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"
#include "sim/devices/descriptor_parser.h"
#include "tests/sim/devices/device_host.h"

namespace sim::devices {
namespace {

std::vector<uint8_t> Dump(const AudioFunctionSpec& spec) {
  std::vector<uint8_t> bytes = BuildDeviceDescriptor(spec);
  const std::vector<uint8_t> config = BuildConfigurationDescriptor(spec);
  bytes.insert(bytes.end(), config.begin(), config.end());
  return bytes;
}

TEST(DescriptorParser, CatalogueDumpsRebuildToTheSameBytes) {
  for (const CatalogueEntry& e : Catalogue()) {
    SCOPED_TRACE(e.name);
    const ParsedDump parsed = ParseDescriptorDump(Dump(e.spec));
    ASSERT_TRUE(parsed.Ok()) << parsed.error;
    EXPECT_EQ(BuildConfigurationDescriptor(*parsed.spec), BuildConfigurationDescriptor(e.spec));
    EXPECT_EQ(BuildDeviceDescriptor(*parsed.spec), BuildDeviceDescriptor(e.spec));
    EXPECT_EQ(parsed.spec->speed, e.spec.speed);
  }
}

TEST(DescriptorParser, DumpedDeviceAnswersWithTheDumpAndDefaultClockRates) {
  const AudioFunctionSpec& velmor = FindCatalogueEntry(kDefaultDeviceName)->spec;
  DumpDefaults defaults;
  defaults.clockRatesById[2] = {48000, 96000};
  const ParsedDump parsed = ParseDescriptorDump(Dump(velmor), defaults);
  ASSERT_TRUE(parsed.Ok()) << parsed.error;
  auto device = UacDevice::FromDump(parsed, {});
  testing::DeviceHost host(*device);
  const testing::Reply config = host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0200, 0, 4096);
  EXPECT_EQ(config.data, BuildConfigurationDescriptor(velmor));
  host.Configure();
  // Clock 1 takes the general defaults, clock 2 its own list.
  const testing::Reply range1 = host.In(0xA1, 0x02, 0x0100, 0x0100, 256);
  const testing::Reply range2 = host.In(0xA1, 0x02, 0x0100, 0x0200, 256);
  EXPECT_EQ(range1.data.size(), 2u + 12 * defaults.clockRates.size());
  EXPECT_EQ(range2.data.size(), 2u + 12 * 2);
  EXPECT_EQ(host.In(0x80, USB_REQUEST_GET_DESCRIPTOR, 0x0302, 0x0409, 255).data,
            BuildStringDescriptor(defaults.product));
}

struct Malformed {
  const char* what;
  std::vector<uint8_t> (*make)(std::vector<uint8_t>);
  const char* reason;
};

// Offsets into a dump of the small speaker: 18-byte device descriptor, then the configuration.
constexpr size_t kConfig = 18;

const Malformed kMalformed[] = {
    {"shorter than a device descriptor",
     [](std::vector<uint8_t> d) {
       d.resize(10);
       return d;
     },
     "shorter than a device descriptor"},
    {"wrong device descriptor type",
     [](std::vector<uint8_t> d) {
       d[1] = 2;
       return d;
     },
     "not a device descriptor"},
    {"configuration cut short",
     [](std::vector<uint8_t> d) {
       d.resize(kConfig + 5);
       return d;
     },
     "configuration descriptor truncated"},
    {"wTotalLength past the end",
     [](std::vector<uint8_t> d) {
       d.resize(d.size() - 3);
       return d;
     },
     "exceeds"},
    {"zero bLength",
     [](std::vector<uint8_t> d) {
       d[kConfig + 9] = 0;
       return d;
     },
     "bLength below 2"},
    {"descriptor past wTotalLength",
     [](std::vector<uint8_t> d) {
       d[kConfig + 9] = 0xF0;
       return d;
     },
     "runs past"},
    {"no audio control interface",
     [](std::vector<uint8_t> d) {
       d[kConfig + 15] = 3;
       return d;
     },
     "no audio control interface"},
    {"header replaced",
     [](std::vector<uint8_t> d) {
       d[kConfig + 20] = 0x02;
       return d;
     },
     "not followed by its header"},
    {"header wTotalLength too long",
     [](std::vector<uint8_t> d) {
       d[kConfig + 23] = 0x80;
       return d;
     },
     "runs past its interface"},
    {"input terminal too short",
     [](std::vector<uint8_t> d) {
       // Shrink the terminal and pad after it so every later descriptor stays in place.
       d[kConfig + 27] = 8;
       d[kConfig + 35] = 4;
       d[kConfig + 36] = 0x24;
       d[kConfig + 37] = 0x00;
       return d;
     },
     "input terminal is 8 bytes"},
    {"streaming setting without format",
     [](std::vector<uint8_t> d) {
       d[kConfig + 85] = 0x7F;
       return d;
     },
     "lacks its general"},
};

TEST(DescriptorParser, MalformedDumpsAreReportedWithTheirReason) {
  const std::vector<uint8_t> good = Dump(FindCatalogueEntry("uac1-speaker")->spec);
  ASSERT_TRUE(ParseDescriptorDump(good).Ok());
  for (const Malformed& m : kMalformed) {
    SCOPED_TRACE(m.what);
    const ParsedDump parsed = ParseDescriptorDump(m.make(good));
    EXPECT_FALSE(parsed.Ok());
    EXPECT_NE(parsed.error.find(m.reason), std::string::npos) << parsed.error;
    EXPECT_EQ(UacDevice::FromDump(parsed, {}), nullptr);
  }
}

TEST(DescriptorParser, EveryTruncationOfADumpFailsCleanly) {
  // Cutting wTotalLength (and the bytes) anywhere must never read past the buffer.
  const std::vector<uint8_t> good = Dump(FindCatalogueEntry(kDefaultDeviceName)->spec);
  for (size_t cut = kConfig; cut < good.size(); ++cut) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + cut);
    if (bytes.size() >= kConfig + 4) {
      bytes[kConfig + 2] = static_cast<uint8_t>((cut - kConfig) & 0xFF);
      bytes[kConfig + 3] = static_cast<uint8_t>((cut - kConfig) >> 8);
    }
    const ParsedDump parsed = ParseDescriptorDump(bytes);
    EXPECT_TRUE(parsed.Ok() || !parsed.error.empty());
  }
}

}  // namespace
}  // namespace sim::devices

namespace sim::devices {
namespace {

// Whatever a corrupted dump parses into, the device built from it must answer every request
// and packet without reading outside its buffers (run under the sanitizers in CI).
TEST(DescriptorParser, MutatedDumpsNeverBreakTheDevice) {
  std::vector<std::vector<uint8_t>> seeds;
  for (const CatalogueEntry& e : Catalogue()) seeds.push_back(Dump(e.spec));
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  size_t built = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = seeds[next() % seeds.size()];
    for (int flips = 1 + next() % 4; flips > 0; --flips)
      bytes[18 + next() % (bytes.size() - 18)] = static_cast<uint8_t>(next() >> 24);
    const ParsedDump parsed = ParseDescriptorDump(bytes);
    if (!parsed.Ok()) {
      EXPECT_FALSE(parsed.error.empty());
      continue;
    }
    ++built;
    auto device = UacDevice::FromDump(parsed, {});
    testing::DeviceHost host(*device);
    host.Configure();
    std::vector<uint8_t> buffer(1024);
    for (const StreamingInterfaceSpec& s : device->Spec().streams) {
      for (uint8_t alt = 1; alt <= s.alts.size() + 1; ++alt) {
        host.SetInterface(s.bInterfaceNumber, alt);
        host.Tick();
        for (const AltSettingSpec& a : s.alts) {
          device->IsoOut(host.Time(), a.data.bEndpointAddress, buffer);
          device->IsoIn(host.Time(), a.data.bEndpointAddress, buffer);
          if (a.feedback) device->IsoIn(host.Time(), a.feedback->bEndpointAddress, buffer);
        }
      }
    }
    for (uint16_t entity = 0; entity < 0x2000; entity += 0x100) {
      host.In(0xA1, 0x01, 0x0100, entity, 64);
      host.In(0xA1, 0x02, 0x0200, entity, 64);
      host.In(0xA1, 0x81, 0x0200, entity, 2);
      host.Out(0x21, 0x01, 0x0100, entity, {2});
    }
  }
  EXPECT_GT(built, 100u);  // the mutations must reach the device, not only the parser
}

}  // namespace
}  // namespace sim::devices
