// Carving the audio function out of a composite device's configuration.
#include <gmock/gmock.h>

#include "sim/devices/catalogue.h"
#include "sim/devices/extra_interfaces.h"
#include "sim/machine/audio_function.h"

namespace {

using sim::devices::AudioFunctionSpec;
using sim::machine::FindAudioFunction;

AudioFunctionSpec Spec(std::string_view name) {
  return sim::devices::FindCatalogueEntry(name)->spec;
}

// The device with a HID interface and a MIDI function after its audio function.
AudioFunctionSpec WithCompanions(AudioFunctionSpec f) {
  sim::devices::AddVendorInterface(f, USB_DEVICE_CLASS_HUMAN_INTERFACE, 0, 0,
                                   {9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x20, 0x00}, 0x87);
  sim::devices::AddMidiFunction(f, 0x08, 0x88);
  return f;
}

TEST(AudioFunctionTest, TheFunctionSeesExactlyTheConfigurationOfItsAudioInterfaces) {
  AudioFunctionSpec withoutAssociation = Spec("velmor-dac");
  withoutAssociation.interfaceAssociation = false;
  struct Case {
    const char* what;
    AudioFunctionSpec plain;
  };
  const Case cases[] = {
      {"2.0 with an association descriptor", Spec("velmor-dac")},
      {"2.0 without one: the audio interfaces that follow", withoutAssociation},
      {"1.0: the interfaces its header lists", Spec("uac1-headset")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> plain = sim::devices::BuildImage(c.plain).configuration;
    const std::vector<uint8_t> whole = sim::devices::BuildImage(WithCompanions(c.plain)).configuration;
    ASSERT_EQ(whole[4], 6) << "audio, HID, MIDI control and MIDI streaming";

    auto layout = FindAudioFunction(whole);
    ASSERT_TRUE(layout.has_value());
    EXPECT_THAT(layout->interfaces, testing::ElementsAre(0, 1, 2));
    EXPECT_EQ(layout->configuration, plain);
    ASSERT_EQ(layout->allInterfaces.size(), 6u);
    EXPECT_EQ(layout->allInterfaces[3].interfaceClass, USB_DEVICE_CLASS_HUMAN_INTERFACE);
    EXPECT_EQ(layout->allInterfaces[5].subclass, 3);

    // A device that is nothing but its audio function is shown as it is.
    auto alone = FindAudioFunction(plain);
    ASSERT_TRUE(alone.has_value());
    EXPECT_EQ(alone->configuration, plain);
  }
}

TEST(AudioFunctionTest, DevicesWithoutAnAudioClassFunctionCanOnlyBeBoundWhole) {
  EXPECT_FALSE(FindAudioFunction(
      sim::devices::BuildImage(Spec("quirk-vendor-class")).configuration));
  std::vector<uint8_t> config = sim::devices::BuildImage(Spec("velmor-dac")).configuration;
  std::vector<uint8_t> zeroLength = config;
  zeroLength[9] = 0;
  std::vector<uint8_t> overlong = config;
  overlong[9] = 0xFF;
  for (const auto& bad : {zeroLength, overlong, std::vector<uint8_t>(config.begin(), config.begin() + 5)})
    EXPECT_FALSE(FindAudioFunction(bad));
}

}  // namespace
