#include <gtest/gtest.h>

#include "sim/devices/catalogue.h"
#include "sim/devices/descriptor_builder.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

// A stereo Audio 1.0 speaker at full speed, written out by hand from the class specification.
const std::vector<uint8_t> kUac1Speaker = {
    0x09, 0x02, 0x71, 0x00, 0x02, 0x01, 0x00, 0x80, 0x32,  // configuration, 113 bytes
    0x09, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,  // audio control interface
    0x09, 0x24, 0x01, 0x00, 0x01, 0x28, 0x00, 0x01, 0x01,  // header 1.00, 40 bytes, AS 1
    0x0C, 0x24, 0x02, 0x01, 0x01, 0x01, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00,  // input terminal
    0x0A, 0x24, 0x06, 0x02, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00,              // feature unit
    0x09, 0x24, 0x03, 0x03, 0x01, 0x03, 0x00, 0x02, 0x00,                    // output terminal
    0x09, 0x04, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00,  // streaming, zero bandwidth
    0x09, 0x04, 0x01, 0x01, 0x01, 0x01, 0x02, 0x00, 0x00,  // streaming, setting 1
    0x07, 0x24, 0x01, 0x01, 0x01, 0x01, 0x00,              // general: PCM
    0x0E, 0x24, 0x02, 0x01, 0x02, 0x02, 0x10, 0x02, 0x44, 0xAC, 0x00, 0x80,
    0xBB, 0x00, 0x09, 0x05, 0x01, 0x09, 0xC4, 0x00, 0x01, 0x00, 0x00,  // adaptive OUT, 196 bytes
    0x07, 0x25, 0x01, 0x01, 0x00, 0x00, 0x00,                          // rate control
};

// A stereo Audio 2.0 DAC with one clock and explicit feedback, written out by hand.
const std::vector<uint8_t> kUac2Dac = {
    0x09, 0x02, 0x98, 0x00, 0x02, 0x01, 0x00, 0x80, 0x32,  // configuration, 152 bytes
    0x08, 0x0B, 0x00, 0x02, 0x01, 0x00, 0x20, 0x00,        // interface association
    0x09, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x20, 0x00,  // audio control interface
    0x09, 0x24, 0x01, 0x00, 0x02, 0x0A, 0x40, 0x00, 0x00,  // header 2.00, 64 bytes
    0x08, 0x24, 0x0A, 0x01, 0x03, 0x07, 0x00, 0x00,        // clock source 1
    0x11, 0x24, 0x02, 0x02, 0x01, 0x01, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00,  // input terminal 2
    0x12, 0x24, 0x06, 0x03, 0x02, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00,                                                        // feature unit 3
    0x0C, 0x24, 0x03, 0x04, 0x01, 0x03, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00,  // output terminal
    0x09, 0x04, 0x01, 0x00, 0x00, 0x01, 0x02, 0x20, 0x00,  // streaming, zero bandwidth
    0x09, 0x04, 0x01, 0x01, 0x02, 0x01, 0x02, 0x20, 0x00,  // streaming, setting 1
    0x10, 0x24, 0x01, 0x02, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00,
    0x00,                                            // general: PCM, 2 channels
    0x06, 0x24, 0x02, 0x01, 0x04, 0x18,              // type I, 4-byte slots, 24 bits
    0x07, 0x05, 0x01, 0x05, 0x68, 0x00, 0x01,        // asynchronous OUT
    0x08, 0x25, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // class-specific endpoint
    0x07, 0x05, 0x81, 0x11, 0x04, 0x00, 0x04,        // feedback IN
};

AudioFunctionSpec SmallUac2() {
  AudioFunctionSpec f{};
  ClockSourceSpec clock{};
  clock.bClockID = 1;
  InputTerminalSpec in{};
  in.bTerminalID = 2;
  in.bCSourceID = 1;
  FeatureUnitSpec fu{};
  fu.bUnitID = 3;
  fu.bSourceID = 2;
  fu.bmaControls = {0x0F, 0, 0};
  OutputTerminalSpec out{};
  out.bTerminalID = 4;
  out.bSourceID = 3;
  out.bCSourceID = 1;
  f.entities = {clock, in, fu, out};
  AltSettingSpec alt{};
  alt.bSubslotSize = 4;
  alt.bBitResolution = 24;
  alt.data = {0x01, 0x05, 0x68, 1, 0, 0};
  alt.feedback = EndpointSpec{0x81, 0x11, 4, 4, 0, 0};
  f.streams = {{1, 2, 1, {alt}}};
  return f;
}

TEST(DescriptorBuilder, Uac1ConfigurationMatchesHandWrittenBytes) {
  EXPECT_EQ(BuildConfigurationDescriptor(FindCatalogueEntry("uac1-speaker")->spec), kUac1Speaker);
}

TEST(DescriptorBuilder, Uac2ConfigurationMatchesHandWrittenBytes) {
  EXPECT_EQ(BuildConfigurationDescriptor(SmallUac2()), kUac2Dac);
}

TEST(DescriptorBuilder, DeviceDescriptorOfTheDefaultDevice) {
  const std::vector<uint8_t> expected = {0x12, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 0x40, 0x31,
                                         0x7A, 0x5E, 0x0C, 0x00, 0x01, 0x01, 0x02, 0x03, 0x01};
  EXPECT_EQ(BuildDeviceDescriptor(FindCatalogueEntry(kDefaultDeviceName)->spec), expected);
}

TEST(DescriptorBuilder, StringsAreUtf16WithLengthAndType) {
  EXPECT_EQ(BuildStringDescriptor("Ab"), (std::vector<uint8_t>{6, 3, 'A', 0, 'b', 0}));
  EXPECT_EQ(BuildLanguageList(), (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
  EXPECT_EQ(BuildStringDescriptor(std::string(200, 'x')).size(), 254u);
}

TEST(DescriptorBuilder, PacketSizeLeavesOneFrameOfSlack) {
  EXPECT_EQ(PacketSizeFor(48000, UsbSpeed::Full, 1, 4), 196);
  EXPECT_EQ(PacketSizeFor(44100, UsbSpeed::High, 1, 8), 56);
  EXPECT_EQ(PacketSizeFor(768000, UsbSpeed::High, 1, 8), 776);
  EXPECT_EQ(PacketSizeFor(48000, UsbSpeed::High, 2, 8), 104);
}

TEST(DescriptorBuilder, EveryCatalogueConfigurationIsWellFormed) {
  for (const CatalogueEntry& e : Catalogue()) {
    SCOPED_TRACE(e.name);
    const std::vector<uint8_t> config = BuildConfigurationDescriptor(e.spec);
    ASSERT_GE(config.size(), 9u);
    EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
    size_t walked = 0, interfaces = 0;
    while (walked < config.size()) {
      ASSERT_GE(config[walked], 2);
      if (config[walked + 1] == USB_INTERFACE_DESCRIPTOR_TYPE && config[walked + 3] == 0)
        ++interfaces;
      walked += config[walked];
    }
    EXPECT_EQ(walked, config.size());
    EXPECT_EQ(interfaces, config[4]);
    // Every endpoint must carry the largest packet its fastest rate needs.
    for (const StreamingInterfaceSpec& s : e.spec.streams)
      for (const AltSettingSpec& a : s.alts) {
        EXPECT_LE(a.data.Capacity(), 1024u);
        EXPECT_GT(a.data.Capacity(), 0u);
      }
  }
}

}  // namespace
}  // namespace sim::devices
