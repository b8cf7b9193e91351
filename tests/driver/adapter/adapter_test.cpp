// The driver's entry, routing and start on the simulated machine with the catalogue devices.
#include <gmock/gmock.h>

#include "dispatch_context.h"
#include "driver_entry.h"
#include "driver_settings.h"
#include "machine_test.h"
#include "portcls/portcls_host.h"
#include "sim/devices/catalogue.h"

namespace {

using tarnlink::portcls::DispatchedRequest;

constexpr ULONG kUsbaTag = 0x41425355;

class AdapterTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }

  NTSTATUS Plug(std::string_view name = sim::devices::kDefaultDeviceName) {
    return machine->PlugCatalogueDevice(name);
  }
  DispatchContext* Context() { return GetDispatchContext(machine->FunctionDevice()); }

  // Sends requests with one file object of the given name through the driver's dispatch table,
  // in order; the status of each.
  std::vector<NTSTATUS> SendAll(std::initializer_list<UCHAR> majors, std::u16string name) {
    std::vector<NTSTATUS> statuses;
    FILE_OBJECT file = {};
    file.FileName = {static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                     name.data()};
    file.DeviceObject = machine->PhysicalDevice();
    for (UCHAR major : majors) statuses.push_back(Send(major, &file));
    return statuses;
  }
  NTSTATUS Send(UCHAR major, std::u16string name) { return SendAll({major}, std::move(name))[0]; }

  NTSTATUS Send(UCHAR major, FILE_OBJECT* fileObject) {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    EXPECT_TRUE(machine->RunInKernelThread([&] {
      PDEVICE_OBJECT device = machine->FunctionDevice();
      FILE_OBJECT& file = *fileObject;
      PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
      PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
      next->MajorFunction = major;
      next->FileObject = &file;
      IoSetCompletionRoutine(
          irp,
          [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
          nullptr, TRUE, TRUE, TRUE);
      IoCallDriver(device, irp);
      status = irp->IoStatus.Status;
      IoFreeIrp(irp);
    }));
    return status;
  }
};

TEST_F(AdapterTest, EveryCatalogueDeviceStartsAndGoesWithoutLeaving) {
  for (const auto& entry : sim::devices::Catalogue()) {
    SCOPED_TRACE(entry.name);
    ASSERT_EQ(Plug(entry.name), STATUS_SUCCESS);
    EXPECT_NE(Context()->Adapter, nullptr);
    EXPECT_EQ(g_PhysicalDeviceObject, machine->PhysicalDevice());
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
  EXPECT_EQ(tarnlink::portcls::FrameworkUnloadCount(), 1u);
}

TEST_F(AdapterTest, AFailingStartLeavesNothingBehind) {
  kernel().FailPoolAllocation(1, kUsbaTag);
  EXPECT_EQ(Plug(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_FALSE(machine->DevicePlugged());
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(AdapterTest, PrivateFileObjectsAreTheDriversAndEverythingElseTheFrameworks) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  struct Case {
    std::u16string name;
    bool privateChannel;
  };
  const Case cases[] = {{u"\\asio", true}, {u"\\ASIO", true},    {u"\\AsIo", true},
                        {u"", false},      {u"\\asio2", false},  {u"\\asi", false},
                        {u"asio", false},  {u"\\asio\\x", false}};
  for (const Case& c : cases) {
    if (c.privateChannel) {
      // A whole handle's life, none of it seen by the framework; a request code the channel
      // does not know is refused.
      std::vector<DispatchedRequest> seen;
      tarnlink::portcls::SetDispatchObserver(
          [&](const DispatchedRequest& r) { seen.push_back(r); });
      EXPECT_THAT(SendAll({IRP_MJ_CREATE, IRP_MJ_DEVICE_CONTROL, IRP_MJ_CLEANUP, IRP_MJ_CLOSE},
                          c.name),
                  testing::ElementsAre(STATUS_SUCCESS, STATUS_INVALID_DEVICE_REQUEST,
                                       STATUS_SUCCESS, STATUS_SUCCESS));
      tarnlink::portcls::SetDispatchObserver({});
      EXPECT_TRUE(seen.empty());
      continue;
    }
    for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_DEVICE_CONTROL, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
      SCOPED_TRACE(testing::Message() << "major " << int(major));
      std::vector<DispatchedRequest> seen;
      tarnlink::portcls::SetDispatchObserver(
          [&](const DispatchedRequest& r) { seen.push_back(r); });
      Send(major, c.name);
      tarnlink::portcls::SetDispatchObserver({});
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].major, major);
      EXPECT_EQ(seen[0].fileName, c.name);
    }
  }
}

TEST_F(AdapterTest, RemovalNoticesAreActedOnThenPassedOn) {
  for (UCHAR minor : {IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_SURPRISE_REMOVAL}) {
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    EXPECT_EQ(Context()->Removing, 0u);
    std::vector<DispatchedRequest> seen;
    tarnlink::portcls::SetDispatchObserver([&](const DispatchedRequest& r) {
      seen.push_back(r);
      // The notice reaches the framework only after the driver has acted on it.
      EXPECT_EQ(GetDispatchContext(r.device)->Removing, 1u);
    });
    if (minor == IRP_MN_SURPRISE_REMOVAL)
      machine->SurpriseRemoveDevice();
    else
      EXPECT_EQ(machine->SendPnp(minor), STATUS_SUCCESS);
    tarnlink::portcls::SetDispatchObserver({});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].minor, minor);
    EXPECT_EQ(Send(IRP_MJ_CREATE, u"\\asio"), STATUS_DELETE_PENDING);
    // Another start clears the flag.
    if (minor == IRP_MN_QUERY_REMOVE_DEVICE) {
      EXPECT_EQ(machine->SendPnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
      EXPECT_EQ(Context()->Removing, 1u);
      EXPECT_EQ(machine->SendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
      EXPECT_EQ(machine->SendPnp(IRP_MN_START_DEVICE), STATUS_SUCCESS);
      EXPECT_EQ(Context()->Removing, 0u);
      EXPECT_THAT(SendAll({IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}, u"\\asio"),
                  testing::Each(STATUS_SUCCESS));
    }
    EXPECT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

class AdapterOnWindows7Test : public AdapterTest {
 protected:
  ::sim::machine::MachineOptions Options() const override {
    ::sim::machine::MachineOptions options;
    options.windowsVersion = NTDDI_WIN7;
    return options;
  }
};

TEST_F(AdapterOnWindows7Test, UsesExecutablePoolAndPlainMappings) {
  EXPECT_EQ(g_DriverSettings.PoolType, NonPagedPool);
  EXPECT_EQ(g_DriverSettings.LookasidePoolType, NonPagedPool);
  EXPECT_EQ(g_DriverSettings.MappingPriority, 16u);
}

TEST_F(AdapterTest, UsesNoExecutePoolAndMappingsFromWindows8On) {
  EXPECT_EQ(g_DriverSettings.PoolType, NonPagedPoolNx);
  EXPECT_EQ(g_DriverSettings.LookasidePoolType, NonPagedPoolNx);
  EXPECT_EQ(g_DriverSettings.MappingPriority, 0x40000010u);
}

class AdapterOnOldFrameworkTest : public AdapterTest {
 protected:
  void BeforeLoad() override { tarnlink::portcls::SetInstallsUnloadRoutine(false); }
};

TEST_F(AdapterOnOldFrameworkTest, UnloadsWithoutAFrameworkRoutine) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
  EXPECT_EQ(tarnlink::portcls::FrameworkUnloadCount(), 0u);
}

}  // namespace
