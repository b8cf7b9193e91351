// The wave filter's controls as the operating system reaches them: the component identity, the
// jacks of the bridge pins, volume and mute of the feature-unit nodes and the pins' processing
// modes, through the framework's property requests and through the adapter's handlers directly
// with requests a hostile client could shape.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device_property_handlers.h"
#include "os_path_fixture.h"
#include "sim/audioengine/ks_client.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::scenarios::testing {
namespace {

namespace ks = sim::audioengine;
using sim::devices::ConnectorState;

constexpr LONG kDb = 65536;  // 1 dB in 16.16
constexpr LONG kSilence = static_cast<LONG>(0x80000000);

// On the velmor-dac: pins 0 render, 1 headphones, 2 line in, 3 capture; nodes 0 ADC, 1 DAC,
// 2 MUTE, 3 VOLUME of feature unit 11, which has mute and volume on its master channel only.
// On the playback-only DAC: pins 0 render, 1 speaker; nodes 0 DAC, 1 MUTE, 2 VOLUME of unit 11,
// which has volume on every channel.
constexpr ULONG kHeadphonePin = 1;
constexpr ULONG kFeatureUnit = 11;

class FilterPropertiesTest : public OsPathTest {
 protected:
  void PlugAndOpen(std::string_view name) {
    Plug(name);
    OpenEngine();
  }
  // The playback-only DAC with its feature unit's volume range changed.
  void PlugVolumeRange(int16_t minimum, int16_t maximum, uint16_t resolution) {
    const auto* entry = sim::devices::FindCatalogueEntry("uac2-playback-only");
    ASSERT_NE(entry, nullptr);
    sim::devices::AudioFunctionSpec spec = entry->spec;
    for (auto& entity : spec.entities) {
      if (auto* unit = std::get_if<sim::devices::FeatureUnitSpec>(&entity)) {
        unit->volumeMin = minimum;
        unit->volumeMax = maximum;
        unit->volumeRes = resolution;
      }
    }
    ASSERT_EQ(machine->PlugDevice(std::make_unique<sim::devices::UacDevice>(spec, entry->behaviour)),
              STATUS_SUCCESS);
    OpenEngine();
  }
  HANDLE Filter() { return engine->Filter(); }
  sim::devices::AudioControls& DeviceControls() { return Device()->Controls(); }
};

TEST_F(FilterPropertiesTest, TheEngineReadsIdentityJacksModesAndLevelsWhenItOpens) {
  PlugAndOpen("velmor-dac");
  const ks::EndpointControls& controls = engine->Controls();
  ASSERT_EQ(controls.componentStatus, STATUS_SUCCESS);
  EXPECT_EQ(controls.component.Manufacturer.Data1, 0xD5A47FA8u);
  EXPECT_EQ(controls.component.Product.Data1, 0x8E1D244Bu);
  EXPECT_EQ(controls.component.Component, GUID{});
  EXPECT_EQ(controls.component.Name.Data1, 0x7D898192u);
  EXPECT_EQ(controls.component.Version, 1u);
  EXPECT_EQ(controls.component.Revision, 0u);

  // Streaming pins carry RAW only; bridge pins list no modes.
  ASSERT_EQ(controls.modes.size(), 4u);
  for (const ks::PinModes& pin : controls.modes) {
    ASSERT_EQ(pin.status, STATUS_SUCCESS) << pin.pin;
    if (pin.pin == 0 || pin.pin == 3) {
      ASSERT_EQ(pin.modes.size(), 1u);
      EXPECT_EQ(pin.modes[0], AUDIO_SIGNALPROCESSINGMODE_RAW);
    } else {
      EXPECT_TRUE(pin.modes.empty()) << pin.pin;
    }
  }

  // The headphones detect a plug; the line input cannot say and counts as connected.
  ASSERT_EQ(controls.jacks.size(), 2u);
  for (const ks::JackControl& jack : controls.jacks) {
    ASSERT_EQ(jack.status, STATUS_SUCCESS);
    ASSERT_EQ(jack.status2, STATUS_SUCCESS);
    EXPECT_EQ(jack.description.ChannelMapping, KSAUDIO_SPEAKER_STEREO);
    EXPECT_EQ(jack.description.GeoLocation, eGeoLocFront);
    EXPECT_EQ(jack.description.PortConnection, ePortConnJack);
    EXPECT_EQ(jack.description.IsConnected, 1);
    EXPECT_EQ(jack.description2.JackCapabilities,
              jack.pin == kHeadphonePin ? JACKDESC2_PRESENCE_DETECT_CAPABILITY : 0u);
  }

  // Mute and volume of the two logical channels; the volume lives on the master channel.
  ASSERT_EQ(controls.nodes.size(), 2u);
  const ks::NodeControl& mute = controls.nodes[0];
  EXPECT_EQ(mute.node, 2u);
  EXPECT_EQ(mute.property, ULONG{KSPROPERTY_AUDIO_MUTE});
  ASSERT_EQ(mute.channels.size(), 2u);
  EXPECT_EQ(mute.channels[1].range.Bounds.SignedMaximum, 1);
  const ks::NodeControl& volume = controls.nodes[1];
  EXPECT_EQ(volume.node, 3u);
  ASSERT_EQ(volume.status, STATUS_SUCCESS);
  ASSERT_EQ(volume.channels.size(), 2u);
  for (const ks::ChannelControl& channel : volume.channels) {
    EXPECT_EQ(channel.status, STATUS_SUCCESS);
    EXPECT_EQ(channel.range.SteppingDelta, ULONG(kDb / 2));
    EXPECT_EQ(channel.range.Bounds.SignedMinimum, -100 * kDb);
    EXPECT_EQ(channel.range.Bounds.SignedMaximum, 0);
    EXPECT_EQ(channel.value, 0);
  }
  InKernel([&] {
    ASSERT_EQ(engine->SetNodeValue(3, 1, -12 * kDb), STATUS_SUCCESS);
    ASSERT_EQ(engine->SetNodeValue(2, 0, 1), STATUS_SUCCESS);
  });
  EXPECT_EQ(DeviceControls().Volume(kFeatureUnit, 0), -12 * 256);
  EXPECT_TRUE(DeviceControls().Mute(kFeatureUnit, 0));
  EXPECT_EQ(engine->Controls().nodes[1].channels[0].value, -12 * kDb);
  EXPECT_EQ(engine->Controls().nodes[0].channels[1].value, 1);
}

TEST_F(FilterPropertiesTest, ComponentIdHasExactlyOneSize) {
  PlugAndOpen("velmor-dac");
  InKernel([&] {
    const auto request = ks::PropertyRequest(KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
                                             KSPROPERTY_TYPE_GET);
    std::vector<uint8_t> value(100, 0xEE);
    ULONG_PTR returned = 1;
    EXPECT_EQ(ks::KsProperty(Filter(), request, value.data(), 100, &returned),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(value, std::vector<uint8_t>(100, 0xEE));
    EXPECT_EQ(ks::KsProperty(Filter(), request, nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::KsProperty(Filter(), request, value.data(), 71), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::KsProperty(Filter(), request, value.data(), 72, &returned), STATUS_SUCCESS);
    EXPECT_EQ(returned, 72u);
  });
}

TEST_F(FilterPropertiesTest, JackFollowsTheConnectorState) {
  PlugAndOpen("velmor-dac");
  struct Case {
    ConnectorState state;
    BOOL connected;
    ULONG capabilities;
  };
  const Case cases[] = {
      {ConnectorState::Connected, 1, JACKDESC2_PRESENCE_DETECT_CAPABILITY},
      {ConnectorState::Unplugged, 0, JACKDESC2_PRESENCE_DETECT_CAPABILITY},
      {ConnectorState::Unreadable, 1, 0},
  };
  for (const Case& c : cases) {
    DeviceControls().SetConnector(12, c.state);
    InKernel([&] {
      KSJACK_DESCRIPTION jack = {};
      KSJACK_DESCRIPTION2 jack2 = {};
      ASSERT_EQ(ks::JackDescription(Filter(), kHeadphonePin, &jack), STATUS_SUCCESS);
      ASSERT_EQ(ks::JackDescription2(Filter(), kHeadphonePin, &jack2), STATUS_SUCCESS);
      EXPECT_EQ(jack.IsConnected, c.connected) << int(c.state);
      EXPECT_EQ(jack2.JackCapabilities, c.capabilities) << int(c.state);
      EXPECT_EQ(jack2.DeviceStateInfo, 0u);
    });
  }
  InKernel([&] {
    KSJACK_DESCRIPTION jack = {};
    EXPECT_EQ(ks::JackDescription(Filter(), 0, &jack), STATUS_INVALID_DEVICE_REQUEST);  // streaming
    EXPECT_EQ(ks::JackDescription(Filter(), 9, &jack), STATUS_INVALID_DEVICE_REQUEST);  // no pin
  });
}

// What a volume SET writes to the device: the nearest step (halves away from zero) within the
// range; silence as silence.
TEST_F(FilterPropertiesTest, VolumeSetsRoundToTheStepAndClampIntoTheRange) {
  PlugVolumeRange(-60 * 256, 0, 128);  // -60..0 dB in 0.5 dB steps
  struct Case {
    LONG wished;
    int16_t written;
  };
  const Case cases[] = {
      {static_cast<LONG>(0xFFF5B333), static_cast<int16_t>(0xF580)},  // -10.3 dB -> -10.5 dB
      {6 * kDb, 0},                                                    // above the maximum
      {-kDb / 4, -128},                                                // a half step: away from 0
      {kDb / 4 - 1, 0},                                                // under a half step
      {-61 * kDb, -60 * 256},                                          // below the minimum
      {kSilence, static_cast<int16_t>(0x8000)},                        // silence, not clamped
  };
  for (const Case& c : cases) {
    InKernel([&] {
      ASSERT_EQ(ks::SetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 1, c.wished),
                STATUS_SUCCESS);
      EXPECT_EQ(DeviceControls().Volume(kFeatureUnit, 2), c.written) << c.wished;
      LONG read = 0;
      ASSERT_EQ(ks::GetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 1, &read),
                STATUS_SUCCESS);
      EXPECT_EQ(read, c.written == static_cast<int16_t>(0x8000) ? kSilence : c.written * 256);
    });
  }
  // Channels outside the unit's two are refused before the device is asked.
  InKernel([&] {
    LONG value = 0;
    EXPECT_EQ(ks::GetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 2, &value),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::GetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, -1, &value),
              STATUS_INVALID_PARAMETER);
  });
}

TEST_F(FilterPropertiesTest, AVolumeWithoutStepsEndsAtItsMinimum) {
  PlugVolumeRange(-40 * 256, 0, 0);
  InKernel([&] {
    ASSERT_EQ(ks::SetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 0, -3 * kDb),
              STATUS_SUCCESS);
    EXPECT_EQ(DeviceControls().Volume(kFeatureUnit, 1), -40 * 256);
    ASSERT_EQ(ks::SetNodeValue(Filter(), 2, KSPROPERTY_AUDIO_VOLUMELEVEL, 0, kSilence),
              STATUS_SUCCESS);
    EXPECT_EQ(DeviceControls().Volume(kFeatureUnit, 1), static_cast<int16_t>(0x8000));
  });
}

TEST_F(FilterPropertiesTest, MuteIsTheMasterChannelsWhicheverChannelIsNamed) {
  PlugAndOpen("uac2-playback-only");
  InKernel([&] {
    ASSERT_EQ(ks::SetNodeValue(Filter(), 1, KSPROPERTY_AUDIO_MUTE, 1, 7), STATUS_SUCCESS);
    EXPECT_TRUE(DeviceControls().Mute(kFeatureUnit, 0));
    EXPECT_FALSE(DeviceControls().Mute(kFeatureUnit, 2));
    LONG mute = 0;
    ASSERT_EQ(ks::GetNodeValue(Filter(), 1, KSPROPERTY_AUDIO_MUTE, -1, &mute), STATUS_SUCCESS);
    EXPECT_EQ(mute, 1);
    ASSERT_EQ(ks::SetNodeValue(Filter(), 1, KSPROPERTY_AUDIO_MUTE, -1, 0), STATUS_SUCCESS);
    EXPECT_FALSE(DeviceControls().Mute(kFeatureUnit, 0));
    EXPECT_EQ(ks::GetNodeValue(Filter(), 1, KSPROPERTY_AUDIO_MUTE, 5, &mute),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ks::GetNodeValue(Filter(), 1, KSPROPERTY_AUDIO_MUTE, -2, &mute),
              STATUS_INVALID_PARAMETER);
  });
}

// Basic support answers as much as the value holds: the whole reply, the description, the
// access flags, or nothing; the filter's items have no more than the description.
TEST_F(FilterPropertiesTest, BasicSupportAtEveryValueSizeBoundary) {
  PlugAndOpen("uac2-playback-only");
  constexpr ULONG kNodeReply = 40 + 16 + 2 * 16;  // description, header, two channels
  struct Target {
    std::vector<uint8_t> request;
    ULONG access;
    ULONG type;  // VT type; VT_EMPTY for none
    ULONG full;
  };
  auto nodeRequest = [](ULONG id, ULONG node) {
    return ks::NodeRequest(KSPROPSETID_Audio, id, KSPROPERTY_TYPE_BASICSUPPORT, node, -1);
  };
  std::vector<uint8_t> jack = ks::PinRequest(KSPROPSETID_Jack, KSPROPERTY_JACK_DESCRIPTION2, 1);
  reinterpret_cast<KSPROPERTY*>(jack.data())->Flags = KSPROPERTY_TYPE_BASICSUPPORT;
  const Target targets[] = {
      {nodeRequest(KSPROPERTY_AUDIO_VOLUMELEVEL, 2), 0x203, VT_I4, kNodeReply},
      {nodeRequest(KSPROPERTY_AUDIO_MUTE, 1), 0x203, VT_BOOL, kNodeReply},
      {ks::PropertyRequest(KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
                           KSPROPERTY_TYPE_BASICSUPPORT),
       0x201, VT_EMPTY, 40},
      {jack, 0x201, VT_EMPTY, 40},
  };
  InKernel([&] {
    for (const Target& target : targets) {
      const bool isNode = target.full > 40;
      for (const ULONG size : {0u, 3u, 4u, 39u, 40u, target.full - 1, target.full, target.full + 8}) {
        const ULONG expected = size < 4 ? 0 : size < 40 ? 4 : size < target.full ? 40 : target.full;
        std::vector<uint8_t> value(kNodeReply + 16, 0xEE);
        ULONG_PTR returned = 99;
        EXPECT_EQ(ks::KsProperty(Filter(), target.request, size ? value.data() : nullptr, size,
                                 &returned),
                  expected ? STATUS_SUCCESS : STATUS_BUFFER_TOO_SMALL)
            << target.full << "/" << size;
        EXPECT_EQ(returned, expected) << size;
        for (size_t k = expected; k < value.size(); ++k)
          ASSERT_EQ(value[k], 0xEE) << size << " wrote byte " << k;
        // As much of the description as fits: the access flags first.
        KSPROPERTY_DESCRIPTION description = {};
        description.AccessFlags = target.access;
        description.DescriptionSize = target.full;
        if (target.type != VT_EMPTY) {
          description.PropTypeSet.Set = KSPROPTYPESETID_General;
          description.PropTypeSet.Id = target.type;
        }
        description.MembersListCount = isNode ? 1 : 0;
        const size_t described = std::min<size_t>(expected, sizeof(description));
        EXPECT_EQ(std::memcmp(value.data(), &description, described), 0) << size;
        if (expected < kNodeReply) continue;
        KSPROPERTY_MEMBERSHEADER header = {};
        std::memcpy(&header, value.data() + 40, sizeof(header));
        EXPECT_EQ(header.MembersFlags, ULONG{KSPROPERTY_MEMBER_STEPPEDRANGES});
        EXPECT_EQ(header.MembersCount, 2u);
        EXPECT_EQ(header.Flags, ULONG{KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL});
        KSPROPERTY_STEPPING_LONG last = {};
        std::memcpy(&last, value.data() + 72, sizeof(last));
        const bool volume = target.type == VT_I4;
        EXPECT_EQ(last.SteppingDelta, volume ? ULONG(kDb / 2) : 1u);
        EXPECT_EQ(last.Bounds.SignedMinimum, volume ? -100 * kDb : 0);
        EXPECT_EQ(last.Bounds.SignedMaximum, volume ? 0 : 1);
      }
    }
  });
}

// Requests shaped by a client, sent straight to the adapter as the framework would hand them
// over: each is answered with its status, and nothing is written outside the value.
TEST_F(FilterPropertiesTest, MalformedRequestsAreRefusedWithoutWritingOutsideTheValue) {
  PlugAndOpen("uac2-playback-only");
  const PCPROPERTY_ITEM volumeItem = {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, 0x203,
                                      nullptr};
  const PCPROPERTY_ITEM wrongItem = {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, 0x203, nullptr};
  const PCPROPERTY_ITEM jackItem = {&KSPROPSETID_Jack, KSPROPERTY_JACK_DESCRIPTION, 0x201, nullptr};
  const PCPROPERTY_ITEM wrongJack = {&KSPROPSETID_Jack, 3, 0x201, nullptr};
  struct Case {
    const char* what;
    const PCPROPERTY_ITEM* item;
    ULONG node;
    ULONG verb;
    ULONG instanceSize;
    ULONG valueSize;
    bool nullValue;
    NTSTATUS status;
  };
  constexpr ULONG kGet = KSPROPERTY_TYPE_GET;
  constexpr ULONG kBasic = KSPROPERTY_TYPE_BASICSUPPORT;
  const Case cases[] = {
      {"null value", &volumeItem, 2, kGet, 4, 4, true, STATUS_UNSUCCESSFUL},
      {"short instance", &volumeItem, 2, kGet, 3, 4, false, STATUS_BUFFER_TOO_SMALL},
      {"no instance", &volumeItem, 2, kGet, 0, 4, false, STATUS_BUFFER_TOO_SMALL},
      {"value too long", &volumeItem, 2, kGet, 4, 8, false, STATUS_UNSUCCESSFUL},
      {"value too short", &volumeItem, 2, kGet, 4, 2, false, STATUS_BUFFER_TOO_SMALL},
      {"unknown node", &volumeItem, 40, kGet, 4, 4, false, STATUS_INVALID_PARAMETER},
      {"unknown node, basic support", &volumeItem, 40, kBasic, 4, 96, false, STATUS_UNSUCCESSFUL},
      {"node without entity", &volumeItem, 0, kGet, 4, 4, false, STATUS_INVALID_PARAMETER},
      {"no node", &volumeItem, ULONG(-1), kGet, 4, 4, false, STATUS_UNSUCCESSFUL},
      {"wrong property id", &wrongItem, 2, kGet, 4, 4, false, STATUS_UNSUCCESSFUL},
      {"no verb", &volumeItem, 2, 0, 4, 4, false, STATUS_INVALID_DEVICE_REQUEST},
      {"basic support, null value", &volumeItem, 2, kBasic, 4, 96, true, STATUS_BUFFER_TOO_SMALL},
      {"jack, short instance", &jackItem, ULONG(-1), kGet, 3, 36, false,
       STATUS_INVALID_DEVICE_REQUEST},
      {"jack, unknown pin", &jackItem, ULONG(-1), kGet, 4, 36, false,
       STATUS_INVALID_DEVICE_REQUEST},
      {"jack, wrong property id", &wrongJack, ULONG(-1), kGet, 4, 36, false,
       STATUS_INVALID_DEVICE_REQUEST},
      {"jack, null value", &jackItem, ULONG(-1), kGet, 4, 36, true, STATUS_UNSUCCESSFUL},
      {"jack, value too long", &jackItem, ULONG(-1), kGet, 4, 40, false, STATUS_UNSUCCESSFUL},
  };
  InKernel([&] {
    PMINIPORTSTREAMCONTROL miniport = Engine().ReferenceMiniport();
    ASSERT_NE(miniport, nullptr);
    for (const Case& c : cases) {
      constexpr size_t kGuard = 32;
      std::vector<uint8_t> value(kGuard + 128 + kGuard, 0xEE);
      // The channel, or for a jack pin 1 (a bridge pin) unless the case names a missing one.
      ULONG instance[2] = {std::strstr(c.what, "unknown pin") != nullptr ? 77u : 1u, 0};
      PCPROPERTY_REQUEST request = {};
      request.MajorTarget = miniport;
      request.Node = c.node;
      request.PropertyItem = c.item;
      request.Verb = c.verb;
      request.InstanceSize = c.instanceSize;
      request.Instance = c.instanceSize != 0 ? instance : nullptr;
      request.ValueSize = c.valueSize;
      request.Value = c.nullValue ? nullptr : value.data() + kGuard;
      const NTSTATUS status = c.item->Set == &KSPROPSETID_Jack
                                  ? Adapter()->HandleJackProperty(&request)
                                  : Adapter()->HandleNodeProperty(&request);
      EXPECT_EQ(status, c.status) << c.what;
      EXPECT_EQ(request.ValueSize, 0u) << c.what;
      for (size_t k = 0; k < value.size(); ++k)
        ASSERT_EQ(value[k], 0xEE) << c.what << " wrote byte " << k;
    }
    // A request that names no miniport of this driver reaches no filter.
    PCPROPERTY_REQUEST stray = {};
    stray.PropertyItem = &volumeItem;
    EXPECT_EQ(Adapter()->HandleNodeProperty(&stray), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Adapter()->HandleNodeProperty(nullptr), STATUS_INVALID_PARAMETER);
    miniport->Release();

    // Through the framework: a node beyond the filter's, a request too short for its node, two
    // verbs at once.
    LONG level = 0;
    EXPECT_EQ(ks::GetNodeValue(Filter(), 9, KSPROPERTY_AUDIO_VOLUMELEVEL, 0, &level),
              STATUS_INVALID_PARAMETER);
    auto shortNode = ks::NodeRequest(KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                     KSPROPERTY_TYPE_GET, 2, 0);
    shortNode.resize(sizeof(KSPROPERTY) + 4);
    EXPECT_EQ(ks::KsProperty(Filter(), shortNode, &level, 4), STATUS_INVALID_PARAMETER);
    const auto both = ks::NodeRequest(KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                      KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 2, 0);
    EXPECT_EQ(ks::KsProperty(Filter(), both, &level, 4), STATUS_INVALID_PARAMETER);
    // A node request without its channel reaches the handler with a short instance.
    auto noChannel = ks::NodeRequest(KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
                                     KSPROPERTY_TYPE_GET, 2, 0);
    noChannel.resize(sizeof(KSP_NODE));
    ULONG_PTR returned = 9;
    EXPECT_EQ(ks::KsProperty(Filter(), noChannel, &level, 4, &returned), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(returned, 0u);
  });
}

TEST_F(FilterPropertiesTest, ModesAreListedForStreamingPinsOnly) {
  PlugAndOpen("velmor-dac");
  InKernel([&] {
    PMINIPORTSTREAMCONTROL miniport = Engine().ReferenceMiniport();
    ASSERT_NE(miniport, nullptr);
    PVOID object = nullptr;
    ASSERT_EQ(miniport->QueryInterface(IID_IMiniportAudioSignalProcessing, &object),
              STATUS_SUCCESS);
    auto* processing = static_cast<IMiniportAudioSignalProcessing*>(object);
    GUID modes[2] = {};
    ULONG count = 5;
    EXPECT_EQ(processing->GetModes(0, modes, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(processing->GetModes(17, modes, &count), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(count, 0u);
    count = 5;
    EXPECT_EQ(processing->GetModes(kHeadphonePin, modes, &count), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(count, 0u);
    count = 0;
    EXPECT_EQ(processing->GetModes(3, modes, &count), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(modes[0], GUID{});
    count = 2;
    EXPECT_EQ(processing->GetModes(3, modes, &count), STATUS_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(modes[0], AUDIO_SIGNALPROCESSINGMODE_RAW);
    processing->Release();
    miniport->Release();
    std::vector<GUID> listed;
    EXPECT_EQ(ks::SignalProcessingModes(Filter(), 17, &listed), STATUS_INVALID_PARAMETER);
  });
}

}  // namespace
}  // namespace tarnlink::scenarios::testing
