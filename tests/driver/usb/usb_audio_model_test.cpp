// The audio model built from the descriptors of the catalogue devices and of functions built for
// one case each: class version, entities and their links, streaming interfaces, endpoint
// classification, playback and capture choice, the implicit-feedback pairing, configuration.
#include <gtest/gtest.h>

#include <string>

#include "audio_model_fixture.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/uac_constants.h"
#include "usb_support.h"

namespace tarnlink::audio_model::testing {
namespace {

namespace uac = sim::devices::uac;

std::string NameOf(CUSBAudioEntity* e) {
  char name[32];
  EXPECT_EQ(e->GetName(name, sizeof(name)), STATUS_SUCCESS);
  return name;
}

// --- the catalogue ---------------------------------------------------------------------------

class CatalogueModelTest : public AudioModelTest,
                           public ::testing::WithParamInterface<std::string> {};

TEST_P(CatalogueModelTest, ModelsEveryStreamingInterfaceWithLinkedTerminals) {
  const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry(GetParam());
  ASSERT_NE(entry, nullptr);
  Plug(entry->spec);
  ASSERT_TRUE(Run([&] {
    Start();
    const AudioFunctionSpec& spec = entry->spec;
    EXPECT_EQ(model_->IsUAC2() != FALSE, spec.version == sim::devices::UacVersion::Uac2);
    ASSERT_EQ(model_->StreamInterfaceCount(), static_cast<LONG>(spec.streams.size()));
    size_t i = 0;
    for (USBAudioStreamInterface* s = model_->FirstStreamInterface(); s != nullptr;
         s = s->Next, ++i) {
      const sim::devices::StreamingInterfaceSpec& stream = spec.streams[i];
      EXPECT_EQ(s->InterfaceNumber, stream.bInterfaceNumber);
      EXPECT_EQ(s->AltSettingCount, stream.alts.size() + 1);
      EXPECT_EQ(s->Direction, stream.alts[0].data.In() ? 1 : 0);
      ASSERT_NE(s->Terminal, nullptr);
      EXPECT_EQ(s->Terminal->GetID(), stream.bTerminalLink);
      EXPECT_EQ(s->CurrentAltSetting, 0u);
      EXPECT_EQ(s->DataPipe, nullptr);  // setting 0 has no endpoints
      for (ULONG alt = 1; alt < s->AltSettingCount; ++alt) {
        const USBAudioAltSetting& a = s->AltSettings[alt];
        ASSERT_NE(a.DataEndpoint, nullptr);
        EXPECT_EQ(a.DataEndpoint->bEndpointAddress, stream.alts[alt - 1].data.bEndpointAddress);
        EXPECT_NE(a.GeneralDescriptor, nullptr);
        EXPECT_NE(a.FormatDescriptor, nullptr);
      }
      if (model_->IsUAC2()) {
        EXPECT_NE(model_->TerminalClock(s), nullptr);
      }
    }
    EXPECT_EQ(device_->inner().Configuration(), 1);
  }));
}

std::vector<std::string> CatalogueNames() {
  std::vector<std::string> names;
  for (const sim::devices::CatalogueEntry& e : sim::devices::Catalogue()) names.push_back(e.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueModelTest, ::testing::ValuesIn(CatalogueNames()),
                         [](const auto& param) {
                           std::string n = param.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

// --- entities ----------------------------------------------------------------------------------

TEST_F(AudioModelTest, ClockSelectorFunctionHasFiveEntitiesAndTerminalsLinkToTheSelector) {
  AudioFunctionSpec spec = Uac2Device(false);
  sim::devices::ClockSourceSpec second{};
  second.bClockID = 2;
  second.rates = {48000};
  sim::devices::ClockSelectorSpec selector{};
  selector.bClockID = 3;
  selector.baCSourceID = {1, 2};
  spec.entities.insert(spec.entities.begin() + 1, second);
  spec.entities.insert(spec.entities.begin() + 2, selector);
  std::get<sim::devices::InputTerminalSpec>(spec.entities[3]).bCSourceID = 3;
  std::get<sim::devices::OutputTerminalSpec>(spec.entities[4]).bCSourceID = 3;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    Start();
    const char* names[] = {"ClockSource(1)", "ClockSource(2)", "ClockSelector(3)", "IT(10)",
                           "OT(12)"};
    CUSBAudioEntity* e = model_->FirstEntity();
    for (const char* name : names) {
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(NameOf(e), name);
      e = e->Next();
    }
    EXPECT_EQ(e, nullptr);
    auto* it = static_cast<CUSBAudioTerminal*>(model_->FindEntity(10));
    auto* ot = static_cast<CUSBAudioOutputTerminal*>(model_->FindEntity(12));
    EXPECT_EQ(it->ClockEntity(), model_->FindEntity(3));
    EXPECT_EQ(ot->ClockEntity(), model_->FindEntity(3));
    EXPECT_EQ(ot->SourceEntity(), it);
    EXPECT_EQ(ot->GetSourceID(7), 10u);
    CUSBAudioEntity* sel = model_->FindEntity(3);
    EXPECT_EQ(sel->GetSourceID(0), 1u);
    EXPECT_EQ(sel->GetSourceID(1), 2u);
    EXPECT_EQ(sel->GetSourceID(2), kNoEntityId);
    EXPECT_EQ(model_->TerminalCount(), 2u);
    EXPECT_EQ(model_->FirstUnit(), nullptr);  // clocks are not units
    EXPECT_EQ(it->TerminalType(), uac::kTerminalUsbStreaming);
    EXPECT_TRUE(it->IsInputTerminal());
    EXPECT_FALSE(ot->IsInputTerminal());
  }));
}

TEST_F(AudioModelTest, NamesAreCutToTheBufferAndAlwaysTerminated) {
  Plug(Uac2Device(false));
  ASSERT_TRUE(Run([&] {
    Start();
    char name[6] = "xxxxx";
    EXPECT_EQ(model_->FindEntity(12)->GetName(name, sizeof(name)), STATUS_BUFFER_TOO_SMALL);
    EXPECT_STREQ(name, "OT(12");
    EXPECT_EQ(model_->FindEntity(12)->GetName(name, 0), STATUS_BUFFER_TOO_SMALL);
  }));
}

TEST_F(AudioModelTest, ClockMultiplierIsADummyThatGivesTheTerminalNoClock) {
  AudioFunctionSpec spec = Uac2Device(false);
  spec.entities.insert(spec.entities.begin() + 1,
                       sim::devices::RawEntitySpec{{7, 0x24, 0x0C, 5, 1, 0x00, 0}});
  std::get<sim::devices::InputTerminalSpec>(spec.entities[2]).bCSourceID = 5;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    EXPECT_EQ(NameOf(model_->FindEntity(5)), "Dummy(5)");
    EXPECT_EQ(model_->TerminalClock(model_->PlaybackInterface()), nullptr);
    EXPECT_EQ(model_->FirstUnit(), nullptr);  // a 2.0 multiplier is no unit either
  }));
}

struct LastEntityCase {
  const char* name;
  bool processingLast;
  NTSTATUS expected;
};

class ProcessingUnitTest : public AudioModelTest,
                           public ::testing::WithParamInterface<LastEntityCase> {};

TEST_P(ProcessingUnitTest, OnlyTheLastEntitysLinkDecides) {
  AudioFunctionSpec spec = Uac1Device(false);
  const sim::devices::RawEntitySpec processing{{13, 0x24, 0x07, 7, 1, 0, 1, 2, 2, 3, 0, 0, 0}};
  if (GetParam().processingLast) {
    spec.entities.push_back(processing);
  } else {
    spec.entities.insert(spec.entities.begin() + 1, processing);
  }
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    EXPECT_EQ(Initialize(), GetParam().expected);
    EXPECT_EQ(NameOf(model_->FindEntity(7)), "Processing(7)");
  }));
}

INSTANTIATE_TEST_SUITE_P(Uac1, ProcessingUnitTest,
                         ::testing::Values(LastEntityCase{"Last", true, STATUS_NOT_IMPLEMENTED},
                                           LastEntityCase{"Inside", false, STATUS_SUCCESS}),
                         [](const auto& param) { return std::string(param.param.name); });

// --- streaming interfaces ----------------------------------------------------------------------

TEST_F(AudioModelTest, PlaybackOnlyDeviceHasNoCaptureAndNoPairing) {
  PlugCatalogue("uac2-playback-only");
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_NE(model_->PlaybackInterface(), nullptr);
    EXPECT_EQ(model_->CaptureInterface(), nullptr);
    EXPECT_EQ(model_->StreamInterface(1), nullptr);
    EXPECT_EQ(model_->StreamInterface(2), nullptr);
    EXPECT_FALSE(model_->ImplicitFeedbackPairing());
    EXPECT_FALSE(model_->SharesOneClock());
  }));
}

TEST_F(AudioModelTest, StreamingInterfacesAfterAGapAreNotModelled) {
  AudioFunctionSpec spec = Uac2Device(true);
  spec.streams[1].bInterfaceNumber = 3;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    EXPECT_EQ(model_->StreamInterfaceCount(), 1);
    EXPECT_EQ(model_->FirstStreamInterface()->InterfaceNumber, 1);
    EXPECT_EQ(model_->CaptureInterface(), nullptr);
    LONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = model_->CreateAudioInterfaceList(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(list[0].InterfaceDescriptor, model_->AudioControlInterface());
    EXPECT_EQ(list[1].InterfaceDescriptor,
              model_->FirstStreamInterface()->AltSettings[0].InterfaceDescriptor);
    EXPECT_EQ(list[2].InterfaceDescriptor, nullptr);
    FreeDriverPool(list);
  }));
}

TEST_F(AudioModelTest, AlternateSettingsStopAtTheFirstMissingNumber) {
  AudioFunctionSpec spec = Uac2Device(false);
  spec.streams[0].alts[1].bAlternateSetting = 3;  // settings 0, 1 and 3
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    EXPECT_EQ(model_->PlaybackInterface()->AltSettingCount, 2u);
  }));
}

struct FeedbackCase {
  const char* name;
  bool uac2;
  uint8_t syncAddress;  // Audio 1.0: the data endpoint's bSynchAddress
  uint8_t feedbackInterval;
  bool capture;
  uint8_t expectedFeedback;  // 0: none
  bool unusable;
  bool pairing;
};

class FeedbackEndpointTest : public AudioModelTest,
                             public ::testing::WithParamInterface<FeedbackCase> {};

TEST_P(FeedbackEndpointTest, ClassifiesTheFeedbackEndpoint) {
  const FeedbackCase& c = GetParam();
  AudioFunctionSpec spec;
  if (c.uac2) {
    spec = Uac2Device(c.capture);
    for (AltSettingSpec& a : spec.streams[0].alts) {
      a.feedback = IsoEndpoint(0x81, kIsoFeedback, c.feedbackInterval, 4);
    }
  } else {
    spec = Uac1Device(c.capture);
    AltSettingSpec& a = spec.streams[0].alts[0];
    a.data.bmAttributes = kIsoAsync;
    a.data.bSynchAddress = c.syncAddress;
    a.feedback = IsoEndpoint(0x81, kIsoNoSync, c.feedbackInterval, 3);
    a.feedback->bRefresh = 1;
  }
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    USBAudioStreamInterface* playback = model_->PlaybackInterface();
    const USBAudioAltSetting& last = playback->AltSettings[playback->AltSettingCount - 1];
    ASSERT_NE(last.DataEndpoint, nullptr);
    EXPECT_EQ(last.DataEndpoint->bEndpointAddress, 0x01);
    if (c.expectedFeedback != 0) {
      ASSERT_NE(last.FeedbackEndpoint, nullptr);
      EXPECT_EQ(last.FeedbackEndpoint->bEndpointAddress, c.expectedFeedback);
    } else {
      EXPECT_EQ(last.FeedbackEndpoint, nullptr);
    }
    EXPECT_EQ(model_->UnusableFeedbackSeen() != FALSE, c.unusable);
    EXPECT_EQ(model_->ImplicitFeedbackPairing() != FALSE, c.pairing);
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Endpoints, FeedbackEndpointTest,
    ::testing::Values(
        FeedbackCase{"Uac2Interval4", true, 0, 4, true, 0x81, false, false},
        FeedbackCase{"Uac2Interval8WithCapture", true, 0, 8, true, 0, true, true},
        FeedbackCase{"Uac2Interval8PlaybackOnly", true, 0, 8, false, 0, true, false},
        FeedbackCase{"Uac1SynchAddressNamesIt", false, 0x81, 1, false, 0x81, false, false},
        FeedbackCase{"Uac1SynchAddressElsewhere", false, 0x83, 1, false, 0, false, false},
        FeedbackCase{"Uac1Interval16Unserviceable", false, 0x81, 16, true, 0, false, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AudioModelTest, Uac1FunctionsShareOneClockAlways) {
  PlugCatalogue("uac1-headset");
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_TRUE(model_->SharesOneClock());
    EXPECT_FALSE(model_->ImplicitFeedbackPairing());
    EXPECT_EQ(model_->PlaybackInterface()->AltSettings[1].FeedbackEndpoint->bEndpointAddress, 0x81);
    EXPECT_NE(model_->PlaybackInterface()->AltSettings[1].EndpointGeneralDescriptor, nullptr);
  }));
}

TEST_F(AudioModelTest, Uac2CaptureOnAnotherClockIsNotShared) {
  AudioFunctionSpec spec = Uac2Device(true);
  sim::devices::ClockSourceSpec other{};
  other.bClockID = 2;
  other.rates = {48000};
  spec.entities.push_back(other);
  std::get<sim::devices::InputTerminalSpec>(spec.entities[3]).bCSourceID = 2;
  std::get<sim::devices::OutputTerminalSpec>(spec.entities[4]).bCSourceID = 2;
  for (AltSettingSpec& a : spec.streams[0].alts) a.feedback->bInterval = 8;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    EXPECT_FALSE(model_->SharesOneClock());
    EXPECT_TRUE(model_->UnusableFeedbackSeen());
    EXPECT_FALSE(model_->ImplicitFeedbackPairing());
  }));
}

// --- configuration -----------------------------------------------------------------------------

TEST_F(AudioModelTest, ConfigureLinksThePipesOfTheCurrentSettings) {
  Plug(Uac2Device(true));
  ASSERT_TRUE(Run([&] {
    Start();
    USBAudioStreamInterface* playback = model_->PlaybackInterface();
    ASSERT_EQ(model_->SelectAlternate(playback->InterfaceNumber, 2), STATUS_SUCCESS);
    playback->CurrentAltSetting = 2;
    ASSERT_EQ(model_->LinkPipes(), STATUS_SUCCESS);
    ASSERT_NE(playback->DataPipe, nullptr);
    EXPECT_EQ(playback->DataPipe->EndpointAddress, 0x01);
    ASSERT_NE(playback->FeedbackPipe, nullptr);
    EXPECT_EQ(playback->FeedbackPipe->EndpointAddress, 0x81);
    EXPECT_LE(playback->FeedbackPipe->Interval, 4);
    EXPECT_GE(playback->FeedbackPipe->Interval, 1);
    EXPECT_EQ(model_->CaptureInterface()->DataPipe, nullptr);
    DRMFORWARD forward = {1, nullptr, nullptr, nullptr};
    ASSERT_EQ(model_->GetStreamPipe(0, &forward), STATUS_SUCCESS);
    EXPECT_EQ(forward.Flags, 0u);
    EXPECT_EQ(forward.DeviceObject, model_->TargetDevice());
    EXPECT_EQ(forward.FileObject, nullptr);
    EXPECT_EQ(forward.Context, playback->DataPipe->PipeHandle);
    EXPECT_EQ(model_->GetStreamPipe(1, &forward), STATUS_UNSUCCESSFUL) << "capture is idle";
    // The recorded setting and the device disagree: the pipe is missing but the rest links.
    model_->CaptureInterface()->CurrentAltSetting = 1;
    EXPECT_EQ(model_->LinkPipes(), STATUS_NOT_SUPPORTED);
    EXPECT_NE(playback->DataPipe, nullptr);
  }));
}

TEST_F(AudioModelTest, QuirkDevicesConfigureEveryInterface) {
  PlugCatalogue("quirk-length-header");
  ASSERT_TRUE(Run([&] {
    Start();
    EXPECT_EQ(model_->Quirks().audioClass, 0xFF);
    EXPECT_TRUE(model_->Quirks().playbackLengthHeader);
    EXPECT_EQ(model_->InterfaceCount(), model_->ConfigurationDescriptor()->bNumInterfaces);
  }));
}

TEST_F(AudioModelTest, OrdinaryDevicesListOnlyTheAudioInterfaces) {
  AudioFunctionSpec spec = Uac2Device(false);
  spec.extraInterfaces = {9, 4, 2, 0, 0, 0xFE, 1, 1, 0};
  spec.extraInterfaceCount = 1;
  Plug(spec);
  ASSERT_TRUE(Run([&] {
    ASSERT_EQ(Initialize(), STATUS_SUCCESS);
    LONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = model_->CreateAudioInterfaceList(&count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list[0].InterfaceDescriptor->bInterfaceNumber, 0);
    EXPECT_EQ(list[1].InterfaceDescriptor->bInterfaceNumber, 1);
    FreeDriverPool(list);
    EXPECT_FALSE(model_->Quirks().configureAllInterfaces);
    EXPECT_FALSE(model_->WidePacketWindow());
  }));
}

}  // namespace
}  // namespace tarnlink::audio_model::testing
