// The wave filter's description as built from simulated devices: pins, nodes and connections of
// a headphone output and a microphone input, and the data ranges each streaming pin lists.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "audio_model_fixture.h"
#include "filter_descriptor.h"
#include "sim/devices/uac_constants.h"

namespace tarnlink::audio_model::testing {
namespace {

namespace uac = sim::devices::uac;
using Connection = std::tuple<ULONG, ULONG, ULONG, ULONG>;
constexpr ULONG kPin = PCFILTER_NODE;

sim::devices::FeatureUnitSpec Feature(uint8_t id, uint8_t source, std::vector<uint32_t> controls) {
  sim::devices::FeatureUnitSpec unit{};
  unit.bUnitID = id;
  unit.bSourceID = source;
  unit.bmaControls = std::move(controls);
  return unit;
}

// Audio 2.0: USB streaming IT 10 -> FU 11 (mute and volume on the master channel) -> OT 12 of
// the given type, clock 1; the playback interface carries the given settings.
AudioFunctionSpec Uac2Output(uint16_t outputType, std::vector<AltSettingSpec> alts) {
  AudioFunctionSpec f = Uac2Device(false, {44100, 48000, 96000, 192000});
  auto& output = std::get<sim::devices::OutputTerminalSpec>(f.entities[2]);
  output.wTerminalType = outputType;
  output.bSourceID = 11;
  f.entities.insert(f.entities.begin() + 2, Feature(11, 10, {0x0F, 0, 0}));
  f.streams[0].alts = std::move(alts);
  return f;
}

AltSettingSpec Alt(uint8_t channels, uint8_t subslot, uint8_t bits, uint32_t formats = 1) {
  AltSettingSpec alt = Uac2Alt(channels, subslot, bits, IsoEndpoint(0x01, kIsoAsync, 1, 1024));
  alt.bmFormats = formats;
  return alt;
}

class FilterDescriptorTest : public AudioModelTest {
 protected:
  void TearDown() override {
    HostSetWindowsVersion(NTDDI_WIN10);
    AudioModelTest::TearDown();
  }

  // Builds the block on a started model (fixed rate first, when given) and hands it to check.
  template <typename Check>
  void Build(ULONG fixedRate, Check check) {
    ASSERT_TRUE(Run([&] {
      Start();
      if (fixedRate != 0) model_->SetDeviceSampleRate(fixedRate);
      FilterDescriptorBlock block = {};
      ASSERT_EQ(BuildFilterDescriptor(model_, &block), STATUS_SUCCESS);
      check(block);
      FreeFilterDescriptor(&block);
      EXPECT_EQ(block.Filter.PinCount + block.Filter.NodeCount + block.RenderRanges.Count, 0u);
    }));
  }
};

std::vector<Connection> Connections(const PCFILTER_DESCRIPTOR& filter) {
  std::vector<Connection> out;
  for (ULONG k = 0; k < filter.ConnectionCount; ++k) {
    const PCCONNECTION_DESCRIPTOR& c = filter.Connections[k];
    out.emplace_back(c.FromNode, c.FromNodePin, c.ToNode, c.ToNodePin);
  }
  return out;
}

const KSDATARANGE_AUDIO& Range(const DataRangeList& list, ULONG k) {
  return *reinterpret_cast<const KSDATARANGE_AUDIO*>(list.Ranges[k]);
}

TEST_F(FilterDescriptorTest, HeadphoneOutputIsWiredInSignalFlowOrder) {
  Plug(Uac2Output(uac::kTerminalHeadphones, {Alt(2, 4, 24)}));
  Build(0, [](const FilterDescriptorBlock& block) {
    const PCFILTER_DESCRIPTOR& filter = block.Filter;
    EXPECT_EQ(filter.PinSize, 144u);
    EXPECT_EQ(filter.NodeSize, 144u);
    ASSERT_NE(filter.AutomationTable, nullptr);
    EXPECT_EQ(filter.AutomationTable->PropertyCount, 3u);
    ASSERT_EQ(filter.PinCount, 2u);

    const KSPIN_DESCRIPTOR& sink = FilterPin(filter, 0)->Descriptor.KsPinDescriptor;
    EXPECT_EQ(sink.Communication, KSPIN_COMMUNICATION_SINK);
    EXPECT_EQ(sink.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(*sink.Category, KSCATEGORY_AUDIO);
    EXPECT_EQ(sink.DataRanges, block.RenderRanges.Ranges);
    EXPECT_EQ(FilterPin(filter, 0)->Descriptor.MaxFilterInstanceCount, 1u);

    const KSPIN_DESCRIPTOR& bridge = FilterPin(filter, 1)->Descriptor.KsPinDescriptor;
    EXPECT_EQ(bridge.Communication, KSPIN_COMMUNICATION_BRIDGE);
    EXPECT_EQ(bridge.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_EQ(*bridge.Category, KSNODETYPE_HEADPHONES);
    ASSERT_EQ(bridge.DataRangesCount, 1u);
    EXPECT_EQ(bridge.DataRanges[0]->SubFormat, KSDATAFORMAT_SUBTYPE_ANALOG);

    ASSERT_EQ(filter.NodeCount, 3u);
    EXPECT_EQ(*FilterNode(filter, 0)->Descriptor.Type, KSNODETYPE_DAC);
    EXPECT_EQ(*FilterNode(filter, 1)->Descriptor.Type, KSNODETYPE_MUTE);
    EXPECT_EQ(*FilterNode(filter, 2)->Descriptor.Type, KSNODETYPE_VOLUME);
    EXPECT_EQ(FilterNode(filter, 0)->Descriptor.AutomationTable, nullptr);
    EXPECT_NE(FilterNode(filter, 1)->Descriptor.AutomationTable, nullptr);
    // Both unit nodes go in right behind the streaming pin, so the one added last comes first.
    EXPECT_EQ(Connections(filter), (std::vector<Connection>{
                                       {kPin, 0, 2, 1}, {2, 0, 1, 1}, {1, 0, 0, 1}, {0, 0, kPin, 1}}));
  });
}

TEST_F(FilterDescriptorTest, MicrophoneInputGoesThroughTheAdcToTheCapturePin) {
  Plug(Uac1Device(true));
  Build(0, [](const FilterDescriptorBlock& block) {
    const PCFILTER_DESCRIPTOR& filter = block.Filter;
    // Terminals in entity order: IT 1 (streaming), OT 3 (speaker), IT 4 (mic), OT 5 (streaming).
    ASSERT_EQ(filter.PinCount, 4u);
    EXPECT_EQ(*FilterPin(filter, 2)->Descriptor.KsPinDescriptor.Category,
              KsNodeTypeOfUsbTerminal(uac::kTerminalMicrophone));
    EXPECT_EQ(FilterPin(filter, 3)->Descriptor.KsPinDescriptor.DataRanges,
              block.CaptureRanges.Ranges);
    // Nodes: ADC, DAC, then the feature unit's mute and volume.
    ASSERT_EQ(filter.NodeCount, 4u);
    EXPECT_EQ(*FilterNode(filter, 0)->Descriptor.Type, KSNODETYPE_ADC);
    EXPECT_EQ(Connections(filter),
              (std::vector<Connection>{{kPin, 2, 0, 1},
                                       {0, 0, kPin, 3},
                                       {kPin, 0, 3, 1},
                                       {3, 0, 2, 1},
                                       {2, 0, 1, 1},
                                       {1, 0, kPin, 1}}));
  });
}

TEST_F(FilterDescriptorTest, RangesListTheWidestFirstAndFloatAsPcm24) {
  Plug(Uac2Output(uac::kTerminalSpeaker,
                  {Alt(2, 2, 16), Alt(2, 4, 24), Alt(2, 4, 32, uac::kFormatIeeeFloat)}));
  Build(0, [](const FilterDescriptorBlock& block) {
    const DataRangeList& ranges = block.RenderRanges;
    ASSERT_EQ(ranges.Count, 4u);  // three ranges and the attribute list
    const std::vector<ULONG> bits = {Range(ranges, 0).MaximumBitsPerSample,
                                     Range(ranges, 1).MaximumBitsPerSample,
                                     Range(ranges, 2).MaximumBitsPerSample};
    EXPECT_EQ(bits, (std::vector<ULONG>{24, 24, 16}));
    for (ULONG k = 0; k < 3; ++k) {
      EXPECT_EQ(Range(ranges, k).DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_PCM) << k;
      EXPECT_EQ(Range(ranges, k).DataRange.FormatSize, sizeof(KSDATARANGE_AUDIO));
      EXPECT_EQ(Range(ranges, k).MinimumSampleFrequency, 44100u);
      EXPECT_EQ(Range(ranges, k).MaximumSampleFrequency, 192000u);
    }
    EXPECT_EQ(Range(ranges, 2).DataRange.Flags, ULONG{KSDATARANGE_ATTRIBUTES});
    const auto* attributes = reinterpret_cast<const KSATTRIBUTE_LIST*>(ranges.Ranges[3]);
    ASSERT_EQ(attributes->Count, 1u);
    EXPECT_EQ(reinterpret_cast<const KSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE*>(
                  attributes->Attributes[0])->SignalProcessingMode,
              AUDIO_SIGNALPROCESSINGMODE_RAW);
  });
}

TEST_F(FilterDescriptorTest, FixedRateNarrowsEveryRangeAndWindows8HasNoAttributes) {
  HostSetWindowsVersion(NTDDI_WIN8);
  Plug(Uac2Output(uac::kTerminalSpeaker, {Alt(2, 2, 16), Alt(2, 4, 24)}));
  Build(48000, [](const FilterDescriptorBlock& block) {
    const DataRangeList& ranges = block.RenderRanges;
    ASSERT_EQ(ranges.Count, 2u);
    for (ULONG k = 0; k < 2; ++k) {
      EXPECT_EQ(Range(ranges, k).MinimumSampleFrequency, 48000u);
      EXPECT_EQ(Range(ranges, k).MaximumSampleFrequency, 48000u);
      EXPECT_EQ(Range(ranges, k).DataRange.Flags, 0u);
    }
    EXPECT_EQ(Range(ranges, 0).MaximumBitsPerSample, 24u);
  });
}

TEST_F(FilterDescriptorTest, FixedRateOutsideEveryRangeLeavesThePinWithoutRanges) {
  Plug(Uac2Output(uac::kTerminalSpeaker, {Alt(2, 2, 16)}));
  Build(384000, [](const FilterDescriptorBlock& block) {
    EXPECT_EQ(block.RenderRanges.Count, 0u);
    EXPECT_EQ(FilterPin(block.Filter, 0)->Descriptor.KsPinDescriptor.DataRangesCount, 0u);
  });
}

}  // namespace
}  // namespace tarnlink::audio_model::testing
