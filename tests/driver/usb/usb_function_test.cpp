// CUSBCL against the simulated host controller and the catalogue devices: start, descriptors,
// configuration and alternate settings, control requests, strings, pipes, the IRP pool and the
// host controller query.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kernel/host_kernel.h"
#include "kernel/io_state.h"
#include "sim/devices/catalogue.h"
#include "support/kernel_test.h"
#include "usb_function.h"
#include "usb_support.h"
#include "usb_test_port.h"

namespace tarnlink::usb_function::testing {
namespace {

using sim::devices::UsbSpeed;
using tarnlink::kernel::testing::KernelTest;

// A catalogue device answering its string descriptor `index` with `answer`, or stalling it.
class AlteredStringDevice : public sim::devices::UsbDevice {
 public:
  AlteredStringDevice(std::unique_ptr<sim::devices::UacDevice> inner, uint8_t index,
                      std::optional<std::vector<uint8_t>> answer)
      : inner_(std::move(inner)), index_(index), answer_(std::move(answer)) {}
  UsbSpeed MaximumSpeed() const override { return inner_->MaximumSpeed(); }
  void Reset(UsbSpeed speed) override { inner_->Reset(speed); }
  void StartOfFrame(const sim::devices::BusTime& time) override { inner_->StartOfFrame(time); }
  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override {
    if (setup.bRequest == USB_REQUEST_GET_DESCRIPTOR &&
        setup.wValue.HiByte == USB_STRING_DESCRIPTOR_TYPE && setup.wValue.LowByte == index_) {
      if (!answer_) return sim::devices::ControlResult::Stall();
      const size_t n = std::min(data.size(), answer_->size());
      std::memcpy(data.data(), answer_->data(), n);
      return sim::devices::ControlResult::Ack(n);
    }
    return inner_->Control(time, setup, data);
  }
  sim::devices::IsoStatus IsoOut(const sim::devices::BusTime& time, uint8_t endpoint,
                                 std::span<const uint8_t> packet) override {
    return inner_->IsoOut(time, endpoint, packet);
  }
  sim::devices::IsoInResult IsoIn(const sim::devices::BusTime& time, uint8_t endpoint,
                                  std::span<uint8_t> buffer) override {
    return inner_->IsoIn(time, endpoint, buffer);
  }

 private:
  std::unique_ptr<sim::devices::UacDevice> inner_;
  uint8_t index_;
  std::optional<std::vector<uint8_t>> answer_;
};

const std::vector<uint8_t> kEmptyString = {2, USB_STRING_DESCRIPTOR_TYPE};

class UsbFunctionTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    tarnlink::io::ResetIoState();
  }
  void TearDown() override {
    if (!kernel().Stopped()) {
      RunInThread([&] {
        delete function_;
        function_ = nullptr;
        if (built_) port_.TearDown();
      });
    }
    KernelTest::TearDown();
  }

  // Plugs the device and creates (but does not start) the function, on a kernel thread.
  void Plug(std::unique_ptr<sim::devices::UsbDevice> device, UsbSpeed bus = UsbSpeed::High) {
    ASSERT_TRUE(RunInThread([&] {
      port_.Build(std::move(device), bus);
      built_ = true;
      function_ = new CUSBCL();
    }));
  }
  void PlugCatalogue(std::string_view name, UsbSpeed bus = UsbSpeed::High) {
    auto device = sim::devices::MakeCatalogueDevice(name);
    ASSERT_NE(device, nullptr) << name;
    uac_ = device.get();
    Plug(std::move(device), bus);
  }
  NTSTATUS Start(ULONG irps = 0) { return function_->StartFunction(port_.pdo, port_.fdo, irps); }
  // Starts and selects the configuration with every interface's setting 0.
  void StartAndConfigure() {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    LONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = function_->CreateInterfaceList(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(function_->ConfigurationRequest(list, count), STATUS_SUCCESS);
    FreeDriverPool(list);
  }

  TestUsbPort port_;
  bool built_ = false;
  CUSBCL* function_ = nullptr;
  sim::devices::UacDevice* uac_ = nullptr;
};

// --- start against every device of the catalogue -----------------------------------------

class CatalogueStartTest : public UsbFunctionTest,
                           public ::testing::WithParamInterface<std::string> {};

TEST_P(CatalogueStartTest, StartsConfiguresAndSwitchesEveryStreamingInterface) {
  PlugCatalogue(GetParam());
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const sim::devices::DescriptorImage& image = uac_->Image();
    ASSERT_EQ(image.device.size(), sizeof(USB_DEVICE_DESCRIPTOR));
    EXPECT_EQ(std::memcmp(&function_->DeviceDescriptor(), image.device.data(), 18), 0);
    PUSB_CONFIGURATION_DESCRIPTOR config = function_->ConfigurationDescriptor();
    ASSERT_NE(config, nullptr);
    ASSERT_EQ(config->wTotalLength, image.configuration.size());
    EXPECT_EQ(std::memcmp(config, image.configuration.data(), image.configuration.size()), 0);
    EXPECT_EQ(function_->IsHighSpeed() != FALSE, uac_->Spec().speed == UsbSpeed::High);
    EXPECT_EQ(function_->RemoteWakeup(),
              (uac_->Spec().bmAttributes & USB_CONFIG_REMOTE_WAKEUP) != 0 ? 1u : 0u);
    EXPECT_GE(function_->LanguageCount(), 1u);

    LONG count = 0;
    PUSBD_INTERFACE_LIST_ENTRY list = function_->CreateInterfaceList(&count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, config->bNumInterfaces);
    EXPECT_EQ(list[count].InterfaceDescriptor, nullptr);
    ASSERT_EQ(function_->ConfigurationRequest(list, count), STATUS_SUCCESS);
    FreeDriverPool(list);
    EXPECT_EQ(function_->InterfaceCount(), count);
    EXPECT_NE(function_->ConfigurationHandle(), nullptr);
    EXPECT_EQ(uac_->Configuration(), config->bConfigurationValue);

    for (const sim::devices::StreamingInterfaceSpec& stream : uac_->Spec().streams) {
      for (size_t i = 0; i < stream.alts.size(); ++i) {
        const sim::devices::AltSettingSpec& alt = stream.alts[i];
        const UCHAR setting =
            alt.bAlternateSetting != 0 ? alt.bAlternateSetting : static_cast<UCHAR>(i + 1);
        ASSERT_EQ(function_->SelectAlternate(stream.bInterfaceNumber, setting), STATUS_SUCCESS)
            << "interface " << int(stream.bInterfaceNumber) << " setting " << int(setting);
        EXPECT_EQ(uac_->AlternateSetting(stream.bInterfaceNumber), setting);
        PUSBD_PIPE_INFORMATION pipe = function_->FindPipe(alt.data.bEndpointAddress);
        ASSERT_NE(pipe, nullptr);
        EXPECT_NE(pipe->PipeHandle, nullptr);
        EXPECT_EQ(pipe->PipeType, UsbdPipeTypeIsochronous);
      }
      ASSERT_EQ(function_->SelectAlternate(stream.bInterfaceNumber, 0), STATUS_SUCCESS);
      for (const sim::devices::AltSettingSpec& alt : stream.alts)
        EXPECT_EQ(function_->FindPipe(alt.data.bEndpointAddress), nullptr);
    }
  }));
}

std::vector<std::string> CatalogueNames() {
  std::vector<std::string> names;
  for (const sim::devices::CatalogueEntry& entry : sim::devices::Catalogue())
    names.push_back(entry.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueStartTest, ::testing::ValuesIn(CatalogueNames()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

TEST_F(UsbFunctionTest, InterfaceListIsBuiltFromTheInterfacesFound) {
  // Interface numbers 0, 2, 3...: a list that walked 0 .. bNumInterfaces - 1 would miss the last.
  const sim::devices::CatalogueEntry* entry =
      sim::devices::FindCatalogueEntry(sim::devices::kDefaultDeviceName);
  ASSERT_NE(entry, nullptr);
  sim::devices::AudioFunctionSpec spec = entry->spec;
  for (sim::devices::StreamingInterfaceSpec& stream : spec.streams) ++stream.bInterfaceNumber;
  auto device = std::make_unique<sim::devices::UacDevice>(spec, entry->behaviour);
  uac_ = device.get();
  Plug(std::move(device));
  ASSERT_TRUE(RunInThread([&] {
    StartAndConfigure();
    EXPECT_EQ(function_->InterfaceCount(), static_cast<LONG>(spec.streams.size() + 1));
    const sim::devices::StreamingInterfaceSpec& last = spec.streams.back();
    EXPECT_EQ(function_->SelectAlternate(last.bInterfaceNumber, 1), STATUS_SUCCESS);
    EXPECT_NE(function_->FindPipe(last.alts.at(0).data.bEndpointAddress), nullptr);
  }));
}

TEST_F(UsbFunctionTest, FullSpeedBusClearsTheHighSpeedFlag) {
  PlugCatalogue(sim::devices::kDefaultDeviceName, UsbSpeed::Full);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_FALSE(function_->IsHighSpeed());
  }));
}

// --- descriptor lengths ---------------------------------------------------------------------

TEST_F(UsbFunctionTest, ADescriptorOneByteShortFailsTheStartAndClosesTheHandle) {
  for (UCHAR type : {USB_DEVICE_DESCRIPTOR_TYPE, USB_CONFIGURATION_DESCRIPTOR_TYPE,
                     USB_STRING_DESCRIPTOR_TYPE}) {
    SCOPED_TRACE(::testing::Message() << "descriptor type " << int(type));
    PlugCatalogue(sim::devices::kDefaultDeviceName);
    ASSERT_TRUE(RunInThread([&] {
      // The 9-byte configuration read answered with 8, and the like for the other reads.
      port_.controller().Faults().shortDescriptor[type] = 1;
      EXPECT_EQ(Start(), STATUS_NOT_SUPPORTED);
      EXPECT_EQ(function_->UsbdHandle(), nullptr);
      EXPECT_EQ(function_->ConfigurationDescriptor(), nullptr);
      delete function_;
      function_ = nullptr;
      EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveCount, 0u);
      port_.TearDown();
      built_ = false;
    }));
  }
}

TEST_F(UsbFunctionTest, AStalledDeviceFailsTheStartWithTheRequestStatus) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    port_.controller().Faults().stalledEndpoints.insert(0);
    NTSTATUS status = Start();
    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_EQ(function_->UsbdHandle(), nullptr);
  }));
}

TEST_F(UsbFunctionTest, OutOfMemoryDuringStartLeavesNothingBehind) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    // The USBD handle, then the configuration copy, then the language list.
    for (uint64_t nth = 1; nth <= 3; ++nth) {
      kernel().FailPoolAllocation(nth, kDriverPoolTag);
      EXPECT_EQ(Start(), STATUS_INSUFFICIENT_RESOURCES) << nth;
      EXPECT_EQ(function_->UsbdHandle(), nullptr);
      kernel().ClearPoolFailures();
    }
    EXPECT_EQ(Start(), STATUS_SUCCESS);
  }));
}

// --- strings --------------------------------------------------------------------------------

std::u16string Text(const USBStringDescriptor& record) {
  std::u16string text;
  for (ULONG i = 0; i < record.CharacterCount(); ++i) text.push_back(record.CharacterAt(i));
  return text;
}

TEST_F(UsbFunctionTest, ReadsProductAndSerialStrings) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const sim::devices::AudioFunctionSpec& spec = uac_->Spec();
    USBStringDescriptor record;
    ASSERT_EQ(function_->GetStringDescriptor(function_->DeviceDescriptor().iProduct, 0, &record),
              STATUS_SUCCESS);
    EXPECT_EQ(Text(record), std::u16string(spec.product.begin(), spec.product.end()));
    EXPECT_EQ(record.Size(), record.TextBytes() + 2);
    EXPECT_EQ(record.Buffer()[1], USB_STRING_DESCRIPTOR_TYPE);
    EXPECT_EQ(record.CharacterAt(record.CharacterCount()), 0) << "past the end reads nothing";

    ASSERT_EQ(function_->GetSerialNumberString(&record, 0x0409), STATUS_SUCCESS);
    EXPECT_EQ(Text(record), std::u16string(spec.serialNumber.begin(), spec.serialNumber.end()));
  }));
}

TEST_F(UsbFunctionTest, RefusedStringRequestsSendNothing) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const UCHAR product = function_->DeviceDescriptor().iProduct;
    const ULONG before = port_.urbsSeen;
    USBStringDescriptor record;
    EXPECT_EQ(function_->GetStringDescriptor(product, 0x0407, &record),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(function_->GetStringDescriptor(0, 0, &record), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(port_.urbsSeen, before);
    EXPECT_EQ(record.Size(), 0u);
  }));
}

TEST_F(UsbFunctionTest, ADeviceWithoutStringsStartsWithoutThem) {
  struct Case {
    const char* what;
    std::optional<std::vector<uint8_t>> languageList;
    NTSTATUS start;
  };
  const Case cases[] = {
      {"stalled", std::nullopt, STATUS_SUCCESS},
      {"empty", kEmptyString, STATUS_SUCCESS},
      // Neither an empty list nor a whole one: the device answers falsely.
      {"cut short", std::vector<uint8_t>{4, USB_STRING_DESCRIPTOR_TYPE}, STATUS_NOT_SUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto inner = sim::devices::MakeCatalogueDevice(sim::devices::kDefaultDeviceName);
    const UCHAR product = inner->Image().device[15];  // iProduct
    Plug(std::make_unique<AlteredStringDevice>(std::move(inner), 0, c.languageList));
    ASSERT_TRUE(RunInThread([&] {
      EXPECT_EQ(Start(), c.start);
      if (NT_SUCCESS(c.start)) {
        EXPECT_EQ(function_->LanguageCount(), 0u);
        const ULONG before = port_.urbsSeen;
        USBStringDescriptor record;
        EXPECT_EQ(function_->GetStringDescriptor(product, 0, &record),
                  STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(port_.urbsSeen, before);
      }
      delete function_;
      function_ = nullptr;
      port_.TearDown();
      built_ = false;
    }));
  }
}

TEST_F(UsbFunctionTest, AnEmptyStringDescriptorGivesAnEmptyRecord) {
  auto inner = sim::devices::MakeCatalogueDevice(sim::devices::kDefaultDeviceName);
  const UCHAR product = inner->Image().device[15];  // iProduct
  Plug(std::make_unique<AlteredStringDevice>(std::move(inner), product, kEmptyString));
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    USBStringDescriptor record;
    EXPECT_EQ(function_->GetStringDescriptor(product, 0, &record), STATUS_SUCCESS);
    EXPECT_EQ(record.Size(), 0u);
    EXPECT_EQ(record.Buffer(), nullptr);
    EXPECT_EQ(record.CharacterCount(), 0u);
  }));
}

// --- control requests -----------------------------------------------------------------------

TEST_F(UsbFunctionTest, MalformedControlRequestsAreRefusedWithoutAUsbRequest) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    UCHAR buffer[4] = {};
    struct Case {
      UCHAR bmRequestType;
      USHORT wLength;
      PVOID buffer;
    };
    const Case cases[] = {
        {0x80, 4, buffer},   // standard, device-to-host
        {0x00, 0, nullptr},  // standard, host-to-device
        {0xE1, 4, buffer},   // reserved type
        {0xA4, 4, buffer},   // class, reserved recipient
        {0xA1, 4, nullptr},  // data stage without a buffer
    };
    const ULONG before = port_.urbsSeen;
    for (const Case& c : cases) {
      EXPECT_EQ(function_->ControlRequest(c.bmRequestType, 0x01, 0x0100, 0, c.wLength, c.buffer),
                STATUS_INVALID_PARAMETER)
          << std::hex << int(c.bmRequestType);
    }
    EXPECT_EQ(port_.urbsSeen, before);
  }));
}

TEST_F(UsbFunctionTest, ClassRequestReachesTheDevice) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    StartAndConfigure();
    const sim::devices::AudioFunctionSpec& spec = uac_->Spec();
    const sim::devices::ClockSourceSpec* clock = nullptr;
    for (const sim::devices::EntitySpec& entity : spec.entities) {
      if (const auto* c = std::get_if<sim::devices::ClockSourceSpec>(&entity)) clock = c;
    }
    ASSERT_NE(clock, nullptr);
    // Audio 2.0 GET CUR of the clock's sampling frequency: four bytes back.
    ULONG rate = 0;
    ULONG transferred = 0;
    const USHORT index = static_cast<USHORT>(clock->bClockID << 8 | spec.controlInterface);
    ASSERT_EQ(
        function_->ControlRequest(0xA1, 0x01, 0x0100, index, sizeof(rate), &rate, &transferred),
        STATUS_SUCCESS);
    EXPECT_EQ(transferred, sizeof(rate));
    EXPECT_NE(rate, 0u);
    // A request the device does not know stalls and fails.
    EXPECT_FALSE(NT_SUCCESS(
        function_->ControlRequest(0xA1, 0x7F, 0x0100, index, sizeof(rate), &rate, &transferred)));
  }));
}

// --- alternate settings and pipes -----------------------------------------------------------

TEST_F(UsbFunctionTest, SelectAlternateNeedsAConfiguredInterfaceAndAnExistingSetting) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const UCHAR streaming = uac_->Spec().streams.at(0).bInterfaceNumber;
    EXPECT_EQ(function_->SelectAlternate(streaming, 1), STATUS_UNSUCCESSFUL) << "no table yet";
    StartAndConfigure();
    const ULONG before = port_.urbsSeen;
    EXPECT_EQ(function_->SelectAlternate(77, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(function_->SelectAlternate(streaming, 200), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(port_.urbsSeen, before);
  }));
}

TEST_F(UsbFunctionTest, PipeAbortAndResetNeedAPipeAndPassiveLevel) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    StartAndConfigure();
    const sim::devices::StreamingInterfaceSpec& stream = uac_->Spec().streams.at(0);
    ASSERT_EQ(function_->SelectAlternate(stream.bInterfaceNumber, 1), STATUS_SUCCESS);
    PUSBD_PIPE_INFORMATION pipe = function_->FindPipe(stream.alts.at(0).data.bEndpointAddress);
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(function_->AbortPipe(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(function_->ResetPipe(nullptr), STATUS_INVALID_PARAMETER);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(function_->AbortPipe(pipe), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(function_->ResetPipe(pipe), STATUS_UNSUCCESSFUL);
    KeLowerIrql(old);
    EXPECT_EQ(function_->AbortPipe(pipe), STATUS_SUCCESS);
    EXPECT_EQ(function_->ResetPipe(pipe), STATUS_SUCCESS);
  }));
}

// --- IRP pool, bus interface, host controller -----------------------------------------------

TEST_F(UsbFunctionTest, IrpPoolHandsOutFreshIrpsWhenEmptyAndTakesThemBack) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(2), STATUS_SUCCESS);
    PIRP first = function_->GetIrp();
    PIRP second = function_->GetIrp();
    PIRP fresh = function_->GetIrp();  // the pool is empty now
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, first);
    EXPECT_NE(fresh, second);
    EXPECT_GE(fresh->StackCount, port_.pdo->StackSize);
    fresh->IoStatus.Status = STATUS_CANCELLED;
    function_->ReturnIrp(first);
    function_->ReturnIrp(second);
    function_->ReturnIrp(fresh);
    // Taken from the head, returned at the tail: the oldest comes back first, re-initialised.
    EXPECT_EQ(function_->GetIrp(), first);
    EXPECT_EQ(function_->GetIrp(), second);
    PIRP again = function_->GetIrp();
    EXPECT_EQ(again, fresh);
    EXPECT_EQ(again->IoStatus.Status, STATUS_SUCCESS);
    for (PIRP irp : {first, second, again}) function_->ReturnIrp(irp);
  }));
}

TEST_F(UsbFunctionTest, RequestContextsComeZeroed) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    USBRequestContext* context = function_->AllocateRequestContext();
    ASSERT_NE(context, nullptr);
    context->separateBufferSize = 99;
    function_->FreeRequestContext(context);
    context = function_->AllocateRequestContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->separateBufferSize, 0u);
    EXPECT_EQ(context->urb, nullptr);
    function_->FreeRequestContext(context);
  }));
}

TEST_F(UsbFunctionTest, KeepsTheBusInterfaceForTheBusTime) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const USB_BUS_INTERFACE_USBDI_V1& bus = function_->BusInterface();
    EXPECT_EQ(bus.Size, 72);
    EXPECT_EQ(bus.Version, USB_BUSIF_USBDI_VERSION_1);
    ASSERT_NE(bus.QueryBusTime, nullptr);
    ULONG frame = ~0u;
    EXPECT_EQ(bus.QueryBusTime(bus.BusContext, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame, port_.controller().CurrentFrame());
  }));
}

TEST_F(UsbFunctionTest, IdentifiesTheSimulatedHostController) {
  PlugCatalogue(sim::devices::kDefaultDeviceName);
  ASSERT_TRUE(RunInThread([&] {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    USB_CONTROLLER_INFO_0 info = {};
    const uint64_t liveBefore = kernel().PoolStats(kDriverPoolTag).liveCount;
    ASSERT_EQ(function_->GetHostControllerInfo(&info), STATUS_SUCCESS);
    const sim::usb::ControllerIdentity& id = port_.controller().Identity();
    EXPECT_EQ(info.PciVendorId, id.pciVendorId);
    EXPECT_EQ(info.PciDeviceId, id.pciDeviceId);
    EXPECT_EQ(info.PciRevision, id.pciRevision);
    EXPECT_EQ(info.NumberOfRootPorts, id.rootPorts);
    EXPECT_EQ(info.ControllerFlavor, id.flavor);
    EXPECT_EQ(kernel().PoolStats(kDriverPoolTag).liveCount, liveBefore) << "buffers given back";
  }));
}

}  // namespace
}  // namespace tarnlink::usb_function::testing
