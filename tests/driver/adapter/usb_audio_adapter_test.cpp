// The adapter object on the simulated machine: its interfaces, what Init decides from the device
// and its hardware key, the fixed rate, power and removal, and starts that fail part way.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "adapter_trace_points.h"
#include "dispatch_context.h"
#include "driver_entry.h"
#include "machine_test.h"
#include "portcls/portcls_host.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/forwarding_device.h"
#include "subdevice_names.h"
#include "transfer_settings.h"
#include "usb_audio_adapter.h"
#include "usb_support.h"
#include "usb_trace_points.h"

namespace {

constexpr GUID kUnknownInterface = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

// Keeps every control request the device was sent.
class RequestRecorder : public sim::devices::ForwardingDevice {
 public:
  using ForwardingDevice::ForwardingDevice;

  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override {
    requests.push_back(setup);
    return ForwardingDevice::Control(time, setup, data);
  }

  // The stream-kind vendor requests seen, as (interface, kind).
  std::vector<std::pair<USHORT, USHORT>> StreamKindRequests() const {
    std::vector<std::pair<USHORT, USHORT>> seen;
    for (const auto& r : requests) {
      if (r.bmRequestType.B == 0x41 && r.bRequest == 0) seen.push_back({r.wIndex.W, r.wValue.W});
    }
    return seen;
  }

  std::vector<USB_DEFAULT_PIPE_SETUP_PACKET> requests;
};

void ExpectRateRange(UsbAudioAdapter* adapter, ULONG lowest, ULONG highest) {
  ULONG minimum = 0;
  ULONG maximum = 0;
  EXPECT_EQ(adapter->GetRateRange(&minimum, &maximum), STATUS_SUCCESS);
  EXPECT_EQ(minimum, lowest);
  EXPECT_EQ(maximum, highest);
}

class UsbAudioAdapterTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }

  NTSTATUS Plug(std::string_view name = sim::devices::kDefaultDeviceName) {
    return machine->PlugCatalogueDevice(name);
  }
  // Plugs a catalogue device behind a request recorder.
  RequestRecorder* PlugRecorded(std::string_view name) {
    auto recorder = std::make_unique<RequestRecorder>(sim::devices::MakeCatalogueDevice(name));
    RequestRecorder* raw = recorder.get();
    EXPECT_EQ(machine->PlugDevice(std::move(recorder)), STATUS_SUCCESS);
    return raw;
  }
  UsbAudioAdapter* Adapter() {
    return static_cast<UsbAudioAdapter*>(GetDispatchContext(machine->FunctionDevice())->Adapter);
  }
  // Runs body on a kernel thread with the plugged device's adapter.
  void OnAdapter(const std::function<void(UsbAudioAdapter*)>& body) {
    UsbAudioAdapter* adapter = Adapter();
    ASSERT_NE(adapter, nullptr);
    ASSERT_TRUE(machine->RunInKernelThread([&] { body(adapter); }));
  }
  // The SampleRate value left in the device's hardware key; -1 when absent or not a DWORD.
  int64_t StoredSampleRate() const {
    ULONG type = 0;
    std::vector<uint8_t> data;
    if (!machine->HardwareValue(u"SampleRate", &type, &data) || type != REG_DWORD ||
        data.size() != 4)
      return -1;
    ULONG rate = 0;
    std::memcpy(&rate, data.data(), 4);
    return rate;
  }
  // A fresh machine with other options, the driver loaded.
  void Reboot(const sim::machine::MachineOptions& options) {
    if (machine->DriverLoaded()) {
      ASSERT_TRUE(machine->UnloadDriver());
    }
    machine.reset();
    machine = std::make_unique<sim::machine::Machine>(kernel(), Entry(), options);
    ASSERT_EQ(machine->LoadDriver(), STATUS_SUCCESS);
  }
};

TEST_F(UsbAudioAdapterTest, AnswersItsInterfacesAndDsdOnlyOnANativeDsdDevice) {
  struct Case {
    std::string_view device;
    bool nativeDsd;
  };
  for (const Case& c : {Case{"velmor-dac", true}, Case{"uac1-speaker", false}}) {
    SCOPED_TRACE(c.device);
    ASSERT_EQ(Plug(c.device), STATUS_SUCCESS);
    OnAdapter([&](UsbAudioAdapter* adapter) {
      PVOID face = nullptr;
      ASSERT_EQ(adapter->QueryInterface(IID_IUnknown, &face), STATUS_SUCCESS);
      EXPECT_EQ(face, static_cast<IUsbAudioAdapter*>(adapter));
      adapter->Release();
      ASSERT_EQ(adapter->QueryInterface(IID_IUsbAudioAdapter, &face), STATUS_SUCCESS);
      EXPECT_EQ(face, static_cast<IUsbAudioAdapter*>(adapter));
      adapter->Release();
      ASSERT_EQ(adapter->QueryInterface(IID_IAdapterPowerManagement, &face), STATUS_SUCCESS);
      EXPECT_EQ(face, static_cast<IAdapterPowerManagement*>(adapter));
      static_cast<IAdapterPowerManagement*>(face)->Release();

      NTSTATUS dsd = adapter->QueryInterface(IID_IAdapterDsd, &face);
      if (c.nativeDsd) {
        ASSERT_EQ(dsd, STATUS_SUCCESS);
        EXPECT_EQ(static_cast<IAdapterDsd*>(face)->GetDsdNative(), 1u);
        static_cast<IAdapterDsd*>(face)->Release();
      } else {
        EXPECT_EQ(dsd, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(face, nullptr);
        EXPECT_EQ(adapter->GetDsdNative(), 0u);
        // Without native DSD the kind is PCM for good.
        EXPECT_EQ(adapter->SetStreamKind(kStreamKindPcm), STATUS_SUCCESS);
        EXPECT_EQ(adapter->SetStreamKind(kStreamKindDsd), STATUS_NOT_SUPPORTED);
      }
      face = reinterpret_cast<PVOID>(1);
      EXPECT_EQ(adapter->QueryInterface(kUnknownInterface, &face), STATUS_INVALID_PARAMETER);
      EXPECT_EQ(face, nullptr);
      // Only the framework's and the subdevice miniport's references remain: every query above
      // was released.
      adapter->AddRef();
      EXPECT_EQ(adapter->Release(), 2u);
    });
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, HardwareKeyValuesOfAnyShapeGiveADefinedFixedRate) {
  const auto dword = [](ULONG v) {
    const auto* b = reinterpret_cast<const uint8_t*>(&v);
    return std::vector<uint8_t>(b, b + 4);
  };
  struct Case {
    const char* what;
    ULONG type;  // REG_NONE: no value at all
    std::vector<uint8_t> data;
    ULONG rate;
  };
  // The default device offers 44.1 kHz and 48 kHz families from 44100 up.
  const std::vector<Case> cases = {
      {"absent", REG_NONE, {}, 44100},
      {"a rate the device has", REG_DWORD, dword(96000), 96000},
      {"text", REG_SZ, {'9', 0, '6', 0, 0, 0}, 44100},
      {"two bytes", REG_BINARY, {0x80, 0xBB}, 44100},
      {"zero", REG_DWORD, dword(0), 44100},
      {"all ones", REG_DWORD, dword(0xFFFFFFFF), 44100},
      {"a rate the device lacks", REG_DWORD, dword(22050), 44100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.type != REG_NONE) machine->PresetHardwareValue(u"SampleRate", c.type, c.data);
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    EXPECT_EQ(Adapter()->FixedRate(), c.rate);
    EXPECT_EQ(StoredSampleRate(), c.rate);
    const auto* device = static_cast<sim::devices::UacDevice*>(machine->Device());
    EXPECT_EQ(device->Controls().ClockRate(c.rate % 48000 == 0 ? 2 : 1), c.rate);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, ARateTheDeviceLacksBecomesItsLowestUnderEitherClassVersion) {
  // A 2.0 device from 48 kHz up, and a 1.0 headset with 44.1 and 48 kHz.
  sim::devices::CatalogueEntry uac2 = *sim::devices::FindCatalogueEntry("uac2-implicit");
  std::get<sim::devices::ClockSourceSpec>(uac2.spec.entities[0]).rates = {48000, 96000};
  for (bool version2 : {true, false}) {
    SCOPED_TRACE(version2 ? "2.0" : "1.0");
    machine->PresetHardwareDword(u"SampleRate", 32000);
    NTSTATUS status =
        version2 ? machine->PlugDevice(std::make_unique<sim::devices::UacDevice>(uac2.spec,
                                                                                 uac2.behaviour))
                 : Plug("uac1-headset");
    ASSERT_EQ(status, STATUS_SUCCESS);
    const ULONG lowest = version2 ? 48000 : 44100;
    EXPECT_EQ(Adapter()->FixedRate(), lowest);
    EXPECT_EQ(StoredSampleRate(), lowest);
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, APlaybackOnlyDeviceRunsInFreeRateMode) {
  machine->PresetHardwareDword(u"SampleRate", 96000);
  ASSERT_EQ(Plug("uac2-playback-only"), STATUS_SUCCESS);
  OnAdapter([](UsbAudioAdapter* adapter) {
    EXPECT_TRUE(adapter->PlaybackOnly());
    ULONG rate = 1;
    EXPECT_EQ(adapter->GetFixedRate(&rate), STATUS_SUCCESS);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(adapter->SetFixedRate(48000), STATUS_INVALID_DEVICE_REQUEST);
  });
  EXPECT_EQ(StoredSampleRate(), 96000) << "the setting is neither used nor rewritten";
  const auto subdevices = tarnlink::portcls::Subdevices(machine->FunctionDevice());
  ASSERT_EQ(subdevices.size(), 1u);
  EXPECT_EQ(subdevices[0].name, u"{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}");
  EXPECT_EQ(g_TransferSettings.PlaybackTransferMs, 1u);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, SubdeviceNamesCarryTheFixedRate) {
  for (ULONG rate : {32000u, 44100u, 48000u, 88200u, 96000u, 176400u, 192000u, 352800u, 384000u,
                     705600u, 768000u}) {
    std::string expected = "{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_" + std::to_string(rate);
    PCWSTR name = SubdeviceNameForRate(rate);
    ASSERT_NE(name, nullptr) << rate;
    EXPECT_EQ(std::u16string(name), std::u16string(expected.begin(), expected.end()));
  }
  for (ULONG rate : {22050u, 1411200u, 1u}) EXPECT_EQ(SubdeviceNameForRate(rate), nullptr) << rate;
}

TEST_F(UsbAudioAdapterTest, SetFixedRateChangesTheDeviceAndTheSetting) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  const auto* device = static_cast<sim::devices::UacDevice*>(machine->Device());
  OnAdapter([&](UsbAudioAdapter* adapter) {
    kernel().ClearTrace();
    // The current rate with no ASIO rate pending touches nothing.
    EXPECT_EQ(adapter->SetFixedRate(44100), STATUS_SUCCESS);
    EXPECT_FALSE(kernel().HasTracePoint(kTraceSetFixedRate));
    EXPECT_EQ(adapter->SetFixedRate(22050), STATUS_INVALID_PARAMETER);
    auto* stranger = reinterpret_cast<PMINIPORTSTREAMCONTROL>(&device);
    EXPECT_EQ(adapter->RegisterMiniport(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(adapter->UnregisterMiniport(stranger), STATUS_SUCCESS);
    EXPECT_EQ(adapter->SetFixedRate(96000), STATUS_SUCCESS) << "only its own miniport unregisters";
    ULONG rate = 0;
    adapter->GetFixedRate(&rate);
    EXPECT_EQ(rate, 96000u);
    // The subdevice came back under the new rate's name, with a new miniport.
    const auto subdevices = tarnlink::portcls::Subdevices(machine->FunctionDevice());
    ASSERT_EQ(subdevices.size(), 1u);
    EXPECT_EQ(subdevices[0].name, u"{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_96000");
    PMINIPORTSTREAMCONTROL miniport = adapter->Engine().ReferenceMiniport();
    ASSERT_NE(miniport, nullptr);
    EXPECT_EQ(adapter->UnregisterMiniport(miniport), STATUS_SUCCESS);
    miniport->Release();
    EXPECT_EQ(adapter->SetFixedRate(48000), STATUS_DEVICE_NOT_READY);
  });
  EXPECT_EQ(StoredSampleRate(), 96000);
  EXPECT_EQ(device->Controls().ClockRate(2), 96000u);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, RateRangesAndPipesComeFromTheDevice) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  OnAdapter([](UsbAudioAdapter* adapter) {
    ExpectRateRange(adapter, 44100, 768000);
    ULONG minimum = 50000;
    ULONG maximum = 100000;
    EXPECT_EQ(adapter->GetDirectionRateRange(kDirectionCapture, &minimum, &maximum),
              STATUS_SUCCESS);
    EXPECT_EQ(minimum, 88200u);
    EXPECT_EQ(maximum, 96000u);
    EXPECT_EQ(adapter->GetDirectionRateRange(7, &minimum, &maximum),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(adapter->GetRateRange(nullptr, &maximum), STATUS_INVALID_PARAMETER);
    // No alternate setting with a data pipe is selected yet.
    DRMFORWARD forward = {};
    EXPECT_EQ(adapter->GetPipeInfo(kDirectionPlayback, &forward), STATUS_UNSUCCESSFUL);
  });
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, SlotsOfThePropertiesAnswerThroughTheInterface) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  OnAdapter([](UsbAudioAdapter* adapter) {
    IUsbAudioAdapter* a = adapter;
    EXPECT_EQ(a->HandleNodeProperty(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(a->HandleJackProperty(nullptr), STATUS_INVALID_PARAMETER);
    // Pin 0 streams: without an array the count of its modes, RAW alone.
    ULONG count = 0;
    EXPECT_EQ(a->GetSignalProcessingModes(0, nullptr, &count), STATUS_SUCCESS);
    EXPECT_EQ(count, 1u);
  });
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, NativeDsdComesFromTheRegistryOrTheProbe) {
  struct Case {
    std::string_view device;
    int registry;  // -1: no value
    ULONG nativeDsd;
    bool fromRegistry;
  };
  const Case cases[] = {
      {"velmor-dac", -1, 1, false},  {"uac1-speaker", -1, 0, false},
      {"velmor-dac", 0, 0, true},    {"uac1-speaker", 1, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.device << " registry " << c.registry);
    if (c.registry >= 0) machine->PresetHardwareDword(u"DSDNativeModeSupported", c.registry);
    RequestRecorder* recorder = PlugRecorded(c.device);
    EXPECT_EQ(Adapter()->GetDsdNative(), c.nativeDsd);
    EXPECT_EQ(Adapter()->NativeDsdFromRegistry(), c.fromRegistry);
    EXPECT_EQ(recorder->StreamKindRequests().empty(), c.fromRegistry) << "probed only without value";
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
    Reboot({});
  }
}

TEST_F(UsbAudioAdapterTest, TheAmdWorkaroundFollowsTheControllerOrTheSetting) {
  struct Case {
    const char* what;
    ULONG vendor;
    USB_CONTROLLER_FLAVOR flavor;
    int forced;  // -1: no value
    std::string_view device;
    bool workaround;
  };
  const Case cases[] = {
      {"AMD OHCI", 0x1022, OHCI_Generic, -1, "velmor-dac", true},
      {"ATI", 0x1002, EHCI_Generic, -1, "velmor-dac", true},
      {"AMD EHCI", 0x1022, EHCI_Generic, -1, "velmor-dac", false},
      {"Intel", 0x8086, EHCI_Generic, -1, "velmor-dac", false},
      {"forced on Intel", 0x8086, EHCI_Generic, 1, "velmor-dac", true},
      {"forced off has no say on ATI", 0x1002, EHCI_Generic, 0, "velmor-dac", true},
      {"ATI without capture", 0x1002, EHCI_Generic, -1, "uac2-playback-only", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::machine::MachineOptions options;
    options.controller.pciVendorId = c.vendor;
    options.controller.flavor = c.flavor;
    Reboot(options);
    if (c.forced >= 0) machine->PresetHardwareDword(u"ForceAMDChipset", c.forced);
    ASSERT_EQ(Plug(c.device), STATUS_SUCCESS);
    EXPECT_EQ(Adapter()->AmdWorkaround(), c.workaround);
    EXPECT_EQ(g_TransferSettings.PlaybackTransferMs, c.workaround ? 2u : 1u);
    EXPECT_EQ(g_TransferSettings.PlaybackTransfersInFlight, c.workaround ? 3u : 8u);
    EXPECT_EQ(g_TransferSettings.CaptureTransfersInFlight, 8u);
  }
}

TEST_F(UsbAudioAdapterTest, ReturnToD0DropsBandwidthAndReplaysTheStreamKind) {
  RequestRecorder* recorder = PlugRecorded("velmor-dac");
  OnAdapter([](UsbAudioAdapter* adapter) {
    EXPECT_EQ(adapter->SetStreamKind(kStreamKindDsd), STATUS_SUCCESS);
    ULONG channels = 0, bits = 0, maxBytes = 0;
    EXPECT_EQ(adapter->Model().SelectStreamingFormat(kDirectionPlayback, 1, 2, 16, 44100, 1,
                                                     &channels, &bits, &maxBytes),
              STATUS_SUCCESS);
  });
  EXPECT_EQ(machine->QueryDevicePower(PowerDeviceD3), STATUS_SUCCESS);
  recorder->requests.clear();
  for (DEVICE_POWER_STATE state : {PowerDeviceD1, PowerDeviceD3}) {
    EXPECT_EQ(machine->SetDevicePower(state), STATUS_SUCCESS);
    EXPECT_EQ(Adapter()->PowerState(), state);
  }
  EXPECT_TRUE(recorder->requests.empty()) << "lower states are only recorded";

  EXPECT_EQ(machine->SetDevicePower(PowerDeviceD0), STATUS_SUCCESS);
  EXPECT_EQ(Adapter()->PowerState(), PowerDeviceD0);
  using Request = std::pair<USHORT, USHORT>;
  EXPECT_THAT(recorder->StreamKindRequests(), testing::ElementsAre(Request{1, 1}, Request{2, 1}));
  std::vector<USHORT> zeroBandwidth;
  for (const auto& r : recorder->requests) {
    if (r.bmRequestType.B == 0x01 && r.bRequest == USB_REQUEST_SET_INTERFACE && r.wValue.W == 0)
      zeroBandwidth.push_back(r.wIndex.W);
  }
  EXPECT_THAT(zeroBandwidth, testing::ElementsAre(1)) << "playback back at alternate setting 0";

  recorder->requests.clear();
  EXPECT_EQ(machine->SetDevicePower(PowerDeviceD0), STATUS_SUCCESS);
  EXPECT_TRUE(recorder->requests.empty()) << "a repeated state does nothing";
  EXPECT_EQ(machine->SendPnp(IRP_MN_QUERY_CAPABILITIES), STATUS_SUCCESS);
  EXPECT_EQ(machine->LastCapabilities().SurpriseRemovalOK, 1u);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, SystemSleepTakesTheDeviceToD3AndWakingBackToD0) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_EQ(machine->SuspendSystem(), STATUS_SUCCESS);
  EXPECT_EQ(Adapter()->PowerState(), PowerDeviceD3);
  EXPECT_EQ(machine->ResumeSystem(), STATUS_SUCCESS);
  EXPECT_EQ(Adapter()->PowerState(), PowerDeviceD0);
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(UsbAudioAdapterTest, RemovalNoticesReachTheAdapterOnceItExists) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_FALSE(Adapter()->RemovalNoticed());
  // Stopped, the device has no adapter: a notice then only marks the device.
  EXPECT_EQ(machine->SendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
  EXPECT_EQ(Adapter(), nullptr);
  EXPECT_EQ(machine->SendPnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
  EXPECT_EQ(machine->SendPnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
  EXPECT_EQ(machine->SendPnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
  ASSERT_NE(Adapter(), nullptr);
  EXPECT_FALSE(Adapter()->RemovalNoticed());
  EXPECT_EQ(machine->SendPnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
  EXPECT_TRUE(Adapter()->RemovalNoticed());
  EXPECT_EQ(machine->UnplugDevice(sim::machine::Removal::Surprise), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

// Two clock selectors whose pins fan out: the first names the second on every pin but its last,
// the second alternates between the two clock sources. Each rate query visits each clock once,
// so the start costs as many control requests with 248 pins as with 64.
TEST_F(UsbAudioAdapterTest, FannedOutClockSelectorsCostTheSameWhateverTheirPinCount) {
  std::vector<size_t> requests;
  for (size_t pins : {64u, 248u}) {
    SCOPED_TRACE(pins);
    sim::devices::CatalogueEntry entry = *sim::devices::FindCatalogueEntry("velmor-dac");
    sim::devices::ClockSelectorSpec outer{};
    outer.bClockID = 3;
    outer.baCSourceID.assign(pins - 1, 4);
    outer.baCSourceID.push_back(1);
    sim::devices::ClockSelectorSpec inner{};
    inner.bClockID = 4;
    for (size_t pin = 0; pin < pins; ++pin) inner.baCSourceID.push_back(pin % 2 == 0 ? 1 : 2);
    entry.spec.entities[2] = outer;
    entry.spec.entities.insert(entry.spec.entities.begin() + 3, inner);
    auto recorder = std::make_unique<RequestRecorder>(
        std::make_unique<sim::devices::UacDevice>(entry.spec, entry.behaviour));
    RequestRecorder* device = recorder.get();
    ASSERT_EQ(machine->PlugDevice(std::move(recorder)), STATUS_SUCCESS);
    EXPECT_EQ(Adapter()->FixedRate(), 44100u);
    OnAdapter([](UsbAudioAdapter* adapter) { ExpectRateRange(adapter, 44100, 768000); });
    requests.push_back(device->requests.size());
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_EQ(requests[0], requests[1]);
  EXPECT_TRUE(machine->UnloadDriver());
}

// What a start decided about the device.
struct StartDecisions {
  ULONG fixedRate = 0;
  ULONG nativeDsd = 0;
  BOOLEAN playbackOnly = FALSE;
  BOOLEAN amdWorkaround = FALSE;
  ULONG productCharacters = 0;
  bool operator==(const StartDecisions&) const = default;
};

StartDecisions DecisionsOf(UsbAudioAdapter* adapter) {
  return {adapter->FixedRate(), adapter->GetDsdNative(), adapter->PlaybackOnly(),
          adapter->AmdWorkaround(), adapter->ProductString().CharacterCount()};
}

// Every allocation the start makes through the driver's pool, the USB stack's configuration
// request and the I/O manager's IRPs, failed in turn, on devices of both class versions and on
// a composite one: model building, configuration, alternate setting selection, the requests
// and their range reads. A start either fails and leaves no pool behind, or succeeds with the
// decisions of an undisturbed start, or lost only a step that may fail without harm: the IRP
// reserve (requests then allocate their own), the controller query (the AMD test is skipped)
// or setting the fixed rate on the device (every stream sets its rate again).
TEST_F(UsbAudioAdapterTest, AStartFailingAtAnyAllocationLeavesNothingBehind) {
  const ULONG tags[] = {kDriverPoolTag, tarnlink::kernel::PoolTag("USBD"),
                        tarnlink::kernel::PoolTag("Irp ")};
  const ULONG harmless[] = {kTraceIrpPoolAllocationFailed, kTraceControllerInfoSkipped,
                            kTraceSetDeviceRateFailed};
  std::set<uint64_t> failedInitSteps;
  for (std::string_view name : {"velmor-dac", "uac1-headset", "composite-hid-midi"}) {
    // A rate of the velmor-dac's first clock, so that its selector must ask that clock; on the
    // velmor-dac, native DSD turned off, which its probe would turn on again.
    const auto preset = [&] {
      machine->PresetHardwareDword(u"SampleRate", 88200);
      if (name == "velmor-dac") machine->PresetHardwareDword(u"DSDNativeModeSupported", 0);
    };
    for (ULONG tag : tags) {
      preset();
      const uint64_t before = kernel().PoolStats(tag).totalCount;
      ASSERT_EQ(Plug(name), STATUS_SUCCESS);
      const uint64_t allocations = kernel().PoolStats(tag).totalCount - before;
      const StartDecisions undisturbed = DecisionsOf(Adapter());
      uint64_t failedStarts = 0;
      for (uint64_t nth = 1; nth <= allocations; ++nth) {
        SCOPED_TRACE(testing::Message() << name << " tag " << std::hex << tag << std::dec
                                        << " allocation " << nth);
        Reboot({});
        const uint64_t live = kernel().PoolStats(kDriverPoolTag).liveCount;
        preset();
        kernel().ClearTrace();
        kernel().FailPoolAllocation(nth, tag);
        const NTSTATUS status = Plug(name);
        kernel().ClearPoolFailures();
        if (NT_SUCCESS(status)) {
          const bool lostAHarmlessStep =
              std::any_of(std::begin(harmless), std::end(harmless),
                          [&](ULONG id) { return kernel().HasTracePoint(id); });
          EXPECT_TRUE(lostAHarmlessStep || DecisionsOf(Adapter()) == undisturbed)
              << "a start that lost an allocation it needed reported success";
          EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
        } else {
          ++failedStarts;
          for (const auto& entry : kernel().Trace()) {
            if (entry.id == kTraceInitStepFailed) failedInitSteps.insert(entry.arguments[0]);
          }
          EXPECT_FALSE(machine->DevicePlugged());
          EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveCount, live);
        }
      }
      EXPECT_GT(failedStarts, 0u) << name << " tag " << std::hex << tag;
      Reboot({});
    }
  }
  // Every step of the initialisation that allocates (all but the stream objects) has failed
  // somewhere in the sweep.
  EXPECT_THAT(failedInitSteps, testing::ElementsAre(3, 4, 5, 6, 9));
}

}  // namespace
