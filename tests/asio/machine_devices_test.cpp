// The ASIO driver's device code against the kernel driver on the simulated machine: catalogue
// devices in several root ports, each answering the private channel for itself.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "asio_machine_test.h"
#include "devices/discovery.h"
#include "driver_fixture.h"
#include "formats/sample_types.h"
#include "wide_text.h"

namespace asio_test {
namespace {

class MachineDevicesTest : public AsioMachineTest {
 protected:
  void Plug(std::string_view name, size_t port) {
    ASSERT_EQ(machine->PlugCatalogueDevice(name, port), STATUS_SUCCESS);
  }
  // An audio interface of the device under another reference string.
  void RegisterInterface(size_t port, std::u16string_view reference) {
    ASSERT_TRUE(machine->RunInKernelThread([&] {
      std::u16string text(reference);
      UNICODE_STRING name = {static_cast<USHORT>(text.size() * 2),
                             static_cast<USHORT>(text.size() * 2), text.data()};
      UNICODE_STRING link = {};
      ASSERT_EQ(IoRegisterDeviceInterface(machine->PhysicalDevice(port), &kAudioInterfaceClass, &name,
                                          &link),
                STATUS_SUCCESS);
      EXPECT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_SUCCESS);
      RtlFreeUnicodeString(&link);
    }));
  }
};

std::u16string Text(const WCHAR* text) { return std::u16string(text); }

void Select(TestableDriver& driver) {
  ASSERT_TRUE(driver.OpenInstanceMutex());
  driver.SelectAndOpen();
  driver.state_ = INITIALIZED;
}

void StoreSettings(const std::u16string& selected, DWORD rate) {
  CmnRegUtil settings;
  settings.CreateDefaults();
  settings.WriteSelected(selected.c_str());
  settings.WriteNumber(kSettingSamplingRate, rate);
}

TEST_F(MachineDevicesTest, DiscoveryListsEveryDevicesWaveFilterInProductOrder) {
  Plug("velmor-dac", 0);
  RegisterInterface(0, u"Topology");
  Plug("uac1-speaker", 1);
  Plug("uac2-playback-only", 3);
  RunAsUser([&] {
    DeviceList list;
    DiscoverDevices(&list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(Text(list[0]->productString), u"UAC1 Speaker");
    EXPECT_EQ(Text(list[1]->productString), u"UAC2 Playback DAC");
    EXPECT_EQ(Text(list[2]->productString), u"Velmor USB Audio Tarn");
    EXPECT_EQ(Text(list[0]->instanceId), machine->InstanceId(1));
    EXPECT_EQ(Text(list[1]->instanceId), machine->InstanceId(3));
    EXPECT_EQ(Text(list[2]->instanceId), machine->InstanceId(0));
    EXPECT_EQ(list[0]->busSpeed, 1u);
    EXPECT_EQ(list[2]->busSpeed, 2u);
    EXPECT_EQ(list[0]->dsdNative, 0u);
    EXPECT_EQ(list[2]->dsdNative, 1u);
    EXPECT_EQ(list[0]->rateRange.lowestRate, 44100u);
    EXPECT_EQ(list[0]->rateRange.highestRate, 48000u);
    EXPECT_EQ(list[2]->rateRange.highestRate, 768000u);
  });
  Unload();
}

// The stored device is gone: the first by product string opens, at the stored rate brought
// into its range, and the driver runs it at that rate.
TEST_F(MachineDevicesTest, SelectionOpensTheFirstDeviceAtTheNearestRate) {
  Plug("velmor-dac", 0);
  Plug("uac2-playback-only", 1);
  for (const auto& [stored, expected] :
       {std::pair<ULONG, ULONG>{22050, 44100}, {1000000, 192000}, {96000, 96000}}) {
    RunAsUser([&, stored = stored, expected = expected] {
      StoreSettings(u"USB\\VID_9999&PID_9999\\gone", stored);
      TestableDriver driver;
      Select(driver);
      ASSERT_EQ(driver.deviceGroup_.Count(), 1u) << stored;
      EXPECT_EQ(Text(driver.selectedDevice_), machine->InstanceId(1));
      EXPECT_EQ(driver.asioRate_, expected) << stored;
      EXPECT_EQ(driver.deviceGroup_.At(0)->DeviceRate(), expected);
      EXPECT_EQ(driver.inputs_, 0u);
      EXPECT_EQ(driver.outputs_, 2u);
      WCHAR selected[kSelectedCodeUnits + 1];
      CmnRegUtil().ReadSelected(selected);
      EXPECT_EQ(Text(selected), machine->InstanceId(1));
    });
  }
  Unload();
}

TEST_F(MachineDevicesTest, TheProfiledDeviceRunsAtItsMeasuredRatesAndInDsd) {
  Plug("velmor-dac", 0);
  RunAsUser([&] {
    StoreSettings(machine->InstanceId(0), 1000000);
    TestableDriver driver;
    Select(driver);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    const DeviceStream& device = *driver.deviceGroup_.At(0);
    EXPECT_NE(device.Profile(), nullptr);
    EXPECT_EQ(driver.asioRate_, 768000u);
    EXPECT_EQ(driver.lowestRate_, 44100u);
    EXPECT_EQ(driver.highestRate_, 768000u);
    EXPECT_EQ(driver.inputs_, 2u);
    EXPECT_EQ(driver.outputs_, 2u);
    EXPECT_EQ(driver.dsdCapable_, 1u);
    EXPECT_EQ(driver.canSampleRate(1411200), ASE_NoClock);

    EXPECT_EQ(driver.setSampleRate(48000), ASE_OK);
    LONG minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver.getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 256);

    ASIOIoFormat dsd = {};
    dsd.FormatType = kASIODSDFormat;
    ASSERT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_SUCCESS);
    EXPECT_EQ(driver.sampleType_, ASIOSTDSDInt8MSB1);
    EXPECT_EQ(driver.setSampleRate(2822400), ASE_OK);
    EXPECT_EQ(device.DeviceRate(), 88200u);
    ASSERT_EQ(driver.getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 16384);
  });
  Unload();
}

TEST_F(MachineDevicesTest, ADeviceWithoutNativeDsdStaysInPcm) {
  Plug("uac2-playback-only", 0);
  RunAsUser([&] {
    TestableDriver driver;
    Select(driver);
    ASSERT_EQ(driver.deviceGroup_.Count(), 1u);
    EXPECT_EQ(driver.dsdCapable_, 0u);
    ASIOIoFormat dsd = {};
    dsd.FormatType = kASIODSDFormat;
    EXPECT_EQ(driver.future(kAsioCanDoIoFormat, &dsd), ASE_InvalidParameter);
    EXPECT_EQ(driver.future(kAsioSetIoFormat, &dsd), ASE_InvalidParameter);
    EXPECT_EQ(driver.canSampleRate(2822400), ASE_NoClock);
  });
  Unload();
}

// The device leaves between discovery and open, and while it is open: both fail cleanly.
TEST_F(MachineDevicesTest, AnUnpluggedDeviceIsNotOpenedAndItsHandlesFail) {
  Plug("velmor-dac", 0);
  Plug("uac2-playback-only", 1);
  std::unique_ptr<TestableDriver> driver;
  PEPROCESS host = nullptr;
  RunAsUser(
      [&] {
        driver = std::make_unique<TestableDriver>();
        ASSERT_TRUE(driver->OpenInstanceMutex());
        DiscoverDevices(&driver->deviceList_);
        ASSERT_EQ(driver->deviceList_.size(), 2u);
        driver->asioRate_ = 48000;
        driver->state_ = INITIALIZED;
      },
      &host);
  ASSERT_NE(host, nullptr);
  ASSERT_EQ(machine->UnplugDevice(sim::machine::Removal::Surprise, 0), STATUS_SUCCESS);
  InProcess(host, [&] {
    // Velmor's device, listed second, is gone.
    CopyText(driver->selectedDevice_, driver->deviceList_[1]->instanceId, kSelectedCodeUnits);
    EXPECT_FALSE(driver->OpenSelected());
    EXPECT_EQ(driver->deviceGroup_.Count(), 0u);
    EXPECT_EQ(driver->inputs_ + driver->outputs_, 0u);
    CopyText(driver->selectedDevice_, driver->deviceList_[0]->instanceId, kSelectedCodeUnits);
    ASSERT_TRUE(driver->OpenSelected());
    EXPECT_TRUE(driver->CheckHandles());
  });
  machine->SurpriseRemoveDevice(1);
  InProcess(
      host,
      [&] {
        // The handle held still reaches the driver until the remove, but the device cannot be
        // opened again.
        EXPECT_TRUE(driver->CheckHandles());
        EXPECT_FALSE(driver->OpenSelected());
        EXPECT_EQ(driver->deviceGroup_.Count(), 0u);
        driver.reset();
      },
      true);
  Unload();
}

}  // namespace
}  // namespace asio_test
