// Devices whose audio function sits beside HID and MIDI interfaces: bound as their audio
// function, as Windows binds them, they start and play; bound whole, the driver's request for
// its audio interfaces alone is refused without leaving the device configured.
#include <gmock/gmock.h>

#include <vector>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "machine_test.h"
#include "sim/devices/catalogue.h"
#include "sim/devices/extra_interfaces.h"
#include "sim/devices/forwarding_device.h"
#include "usb_audio_adapter.h"

namespace {

using sim::machine::Binding;

std::unique_ptr<sim::devices::UacDevice> CompositeDevice() {
  const sim::devices::CatalogueEntry* dac = sim::devices::FindCatalogueEntry("velmor-dac");
  sim::devices::AudioFunctionSpec f = dac->spec;
  sim::devices::AddVendorInterface(f, USB_DEVICE_CLASS_HUMAN_INTERFACE, 0, 0,
                                   {9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x20, 0x00}, 0x87);
  sim::devices::AddMidiFunction(f, 0x08, 0x88);
  return std::make_unique<sim::devices::UacDevice>(f, dac->behaviour);
}

VOID SignalTransferDone(NTSTATUS status, ULONG, ULONG, PVOID context, ULONG) {
  auto* done = static_cast<PKEVENT>(context);
  EXPECT_EQ(status, STATUS_SUCCESS);
  KeSetEvent(done, IO_NO_INCREMENT, FALSE);
}

class CompositeDeviceTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }
  UsbAudioAdapter* Adapter() {
    return static_cast<UsbAudioAdapter*>(GetDispatchContext(machine->FunctionDevice())->Adapter);
  }
};

TEST_F(CompositeDeviceTest, TheAudioFunctionStartsAndPlays) {
  ASSERT_EQ(machine->PlugDevice(CompositeDevice()), STATUS_SUCCESS);
  EXPECT_EQ(machine->InstanceId(), u"USB\\VID_7A31&PID_0C5E&MI_00\\1");
  ASSERT_NE(machine->Function(), nullptr);
  EXPECT_EQ(machine->Function()->allInterfaces.size(), 6u);
  auto* device = static_cast<sim::devices::UacDevice*>(machine->Device());
  EXPECT_EQ(device->Configuration(), 1);

  UsbAudioAdapter* adapter = Adapter();
  ASSERT_NE(adapter, nullptr);
  ASSERT_TRUE(machine->RunInKernelThread([&] {
    CUSBAudioCL& model = adapter->Model();
    EXPECT_EQ(model.ConfigurationDescriptor()->bNumInterfaces, 3);
    ULONG channels = 0, bits = 0, maxBytes = 0;
    ASSERT_EQ(model.SelectStreamingFormat(0, 1, 2, 24, 44100, 1, &channels, &bits, &maxBytes),
              STATUS_SUCCESS);
    constexpr ULONG kTransfers = 8;
    std::vector<UCHAR> buffer(kTransfers * maxBytes);
    KEVENT done[kTransfers];
    for (ULONG i = 0; i < kTransfers; ++i) {
      KeInitializeEvent(&done[i], NotificationEvent, FALSE);
      const ULONG bytes = model.GetTransferBytes(1, model.LatchPlaybackFeedback());
      ASSERT_EQ(model.SubmitPlayback(&buffer[i * maxBytes], nullptr, bytes, 1, SignalTransferDone,
                                     &done[i]),
                STATUS_SUCCESS);
    }
    for (KEVENT& e : done) KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, nullptr);
  }));
  EXPECT_GT(device->Sink(1)->Counters().framesReceived, 44u * 7);
  EXPECT_TRUE(device->Violations().empty());
  EXPECT_TRUE(machine->UnloadDriver());
}

// Notes the configuration value of every SET_CONFIGURATION the device receives.
class ConfigurationWatch : public sim::devices::ForwardingDevice {
 public:
  ConfigurationWatch(std::unique_ptr<UsbDevice> inner, std::vector<USHORT>* seen)
      : ForwardingDevice(std::move(inner)), seen_(seen) {}
  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override {
    if (setup.bmRequestType.B == 0 && setup.bRequest == USB_REQUEST_SET_CONFIGURATION)
      seen_->push_back(setup.wValue.W);
    return ForwardingDevice::Control(time, setup, data);
  }

 private:
  std::vector<USHORT>* seen_;
};

TEST_F(CompositeDeviceTest, BoundWholeItIsRefusedWithoutBeingConfigured) {
  std::vector<USHORT> configurations;
  EXPECT_EQ(machine->PlugDevice(std::make_unique<ConfigurationWatch>(CompositeDevice(),
                                                                     &configurations),
                                Binding::Whole),
            STATUS_INVALID_PARAMETER);
  EXPECT_THAT(configurations, testing::Each(0)) << "the device never left the unconfigured state";
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
