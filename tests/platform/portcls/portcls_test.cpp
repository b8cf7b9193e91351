// The framework against a small adapter driver on the simulated machine: device set-up, start,
// subdevice interfaces, power, the requests it owns, removal, and the rules it enforces.
#include <gmock/gmock.h>

#include <cstring>

#include "kernel/pnp_host.h"
#include "machine_test.h"
#include "portcls/portcls_host.h"
#include "sim/devices/catalogue.h"
#include "test_adapter_driver.h"

namespace tarnlink::portcls::testing {
namespace {

using sim::machine::Removal;

class PortClsTest : public sim::machine::testing::MachineTest {
 protected:
  void SetUp() override {
    g_Script = {};
    g_Log = {};
    MachineTest::SetUp();
  }
  void TearDown() override {
    if (!kernel().Stopped()) machine->RunInKernelThread([] { ReleaseTestPort(); });
    MachineTest::TearDown();
  }
  PDRIVER_INITIALIZE Entry() const override { return TestDriverEntry; }

  NTSTATUS Plug() { return machine->PlugCatalogueDevice(sim::devices::kDefaultDeviceName); }
};

TEST_F(PortClsTest, StartRegistersTheSubdeviceAndRemovalGivesEverythingBack) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  EXPECT_EQ(g_Log.starts, 1u);
  EXPECT_EQ(g_Log.startedDevice, machine->FunctionDevice());
  EXPECT_EQ(machine->FunctionDevice()->DeviceType, static_cast<ULONG>(FILE_DEVICE_KS));
  EXPECT_EQ(g_Log.powerRegistration, STATUS_SUCCESS);
  EXPECT_EQ(g_Log.portInit, STATUS_SUCCESS);
  EXPECT_EQ(g_Log.subdeviceRegistration, STATUS_SUCCESS);
  EXPECT_EQ(g_Log.miniportSawPort, static_cast<PPORTWAVERT>(g_Log.port));
  ASSERT_NE(g_Log.miniportSawAdapter, nullptr);
  // The framework holds the adapter (power) and, through the port, the miniport.
  EXPECT_EQ(g_Log.adapterReferences, 1);
  EXPECT_EQ(g_Log.miniportReferences, 1);

  std::vector<SubdeviceInfo> subdevices = Subdevices(machine->FunctionDevice());
  ASSERT_EQ(subdevices.size(), 1u);
  EXPECT_EQ(subdevices[0].name, u"Wave");
  EXPECT_THAT(AudioInterfaces(), ::testing::ElementsAre(subdevices[0].symbolicLink));
  EXPECT_TRUE(subdevices[0].symbolicLink.ends_with(u"\\Wave"));

  ASSERT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_TRUE(AudioInterfaces().empty());
  EXPECT_EQ(g_Log.adapterReferences, 0);
  EXPECT_EQ(g_Log.miniportReferences, 0);
  machine->RunInKernelThread([] { ReleaseTestPort(); });
  EXPECT_TRUE(machine->UnloadDriver());
  EXPECT_EQ(FrameworkUnloadCount(), 1u);
}

TEST_F(PortClsTest, AFailingStartFailsTheDeviceAndLeavesNothingBehind) {
  for (NTSTATUS failure : {STATUS_INSUFFICIENT_RESOURCES, STATUS_NOT_SUPPORTED}) {
    g_Script.startResult = failure;
    EXPECT_EQ(Plug(), failure);
    EXPECT_FALSE(machine->DevicePlugged());
    EXPECT_TRUE(AudioInterfaces().empty());
    EXPECT_EQ(g_Log.adapterReferences, 0);
    machine->RunInKernelThread([] { ReleaseTestPort(); });
  }
  EXPECT_TRUE(machine->UnloadDriver());
}

TEST_F(PortClsTest, SurpriseRemovalTakesTheInterfacesAwayBeforeTheRemove) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  machine->SurpriseRemoveDevice();
  EXPECT_TRUE(AudioInterfaces().empty());
  EXPECT_EQ(g_Log.adapterReferences, 1);
  ASSERT_EQ(machine->UnplugDevice(), STATUS_SUCCESS);
  EXPECT_EQ(g_Log.adapterReferences, 0);
}

struct RuleCase {
  const char* name;
  TestDriverScript script;
  NTSTATUS plug;
  NTSTATUS power, portInit, registration;
};

class PortClsRuleTest : public PortClsTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(PortClsRuleTest, BrokenRulesFailClearly) {
  const RuleCase& c = GetParam();
  g_Script = c.script;
  EXPECT_EQ(Plug(), c.plug);
  if (c.plug == STATUS_SUCCESS) {
    EXPECT_EQ(g_Log.powerRegistration, c.power);
    EXPECT_EQ(g_Log.portInit, c.portInit);
    EXPECT_EQ(g_Log.subdeviceRegistration, c.registration);
  }
  EXPECT_EQ(machine->UnplugDevice(Removal::Orderly) == STATUS_SUCCESS, c.plug == STATUS_SUCCESS);
  machine->RunInKernelThread([] { ReleaseTestPort(); });
  EXPECT_EQ(g_Log.miniportReferences, 0);
  EXPECT_TRUE(machine->UnloadDriver());
}

RuleCase Case(const char* name, NTSTATUS plug, NTSTATUS power, NTSTATUS portInit,
              NTSTATUS registration, void (*edit)(TestDriverScript&)) {
  RuleCase c{name, {}, plug, power, portInit, registration};
  edit(c.script);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PortClsRuleTest,
    ::testing::Values(Case("ExtensionSmallerThanTheFrameworksPart", STATUS_INVALID_PARAMETER, 0, 0,
                           0, [](TestDriverScript& s) { s.extensionSize = 100; }),
                      Case("NoSubdeviceSlots", STATUS_INVALID_PARAMETER, 0, 0, 0,
                           [](TestDriverScript& s) { s.maxObjects = 0; }),
                      Case("EmptySubdeviceName", STATUS_SUCCESS, STATUS_SUCCESS, STATUS_SUCCESS,
                           STATUS_INVALID_PARAMETER,
                           [](TestDriverScript& s) { s.subdeviceName.clear(); }),
                      Case("MiniportInitFails", STATUS_SUCCESS, STATUS_SUCCESS,
                           STATUS_DEVICE_NOT_READY, STATUS_INVALID_DEVICE_STATE,
                           [](TestDriverScript& s) { s.miniportInit = STATUS_DEVICE_NOT_READY; }),
                      Case("DefaultExtension", STATUS_SUCCESS, STATUS_SUCCESS, STATUS_SUCCESS,
                           STATUS_SUCCESS, [](TestDriverScript& s) { s.extensionSize = 0; })),
    [](const ::testing::TestParamInfo<RuleCase>& param) { return std::string(param.param.name); });

TEST_F(PortClsTest, UnregisteringASubdeviceRemovesItsInterfaceOnce) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  machine->RunInKernelThread([&] {
    PVOID unregister = nullptr;
    ASSERT_EQ(g_Log.port->QueryInterface(IID_IUnregisterSubdevice, &unregister), STATUS_SUCCESS);
    auto* u = static_cast<PUNREGISTERSUBDEVICE>(unregister);
    EXPECT_EQ(u->UnregisterSubdevice(machine->FunctionDevice(), g_Log.port), STATUS_SUCCESS);
    EXPECT_EQ(u->UnregisterSubdevice(machine->FunctionDevice(), g_Log.port), STATUS_NOT_FOUND);
    u->Release();
    // The name is free again, but a port registers only once it is initialised.
    PPORT fresh = nullptr;
    ASSERT_EQ(PcNewPort(&fresh, CLSID_PortWaveRT), STATUS_SUCCESS);
    EXPECT_EQ(
        PcRegisterSubdevice(machine->FunctionDevice(), const_cast<PWSTR>(WSTR("Wave")), fresh),
        STATUS_INVALID_DEVICE_STATE);
    fresh->Release();
    PPORT other = nullptr;
    EXPECT_EQ(PcNewPort(&other, IID_IPort), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(other, nullptr);
  });
  EXPECT_TRUE(AudioInterfaces().empty());
  EXPECT_EQ(g_Log.miniportReferences, 0);
}

TEST_F(PortClsTest, DevicePowerAndCapabilitiesReachTheAdapter) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  machine->RunInKernelThread([&] {
    // A second adapter registration on the same device is refused.
    EXPECT_EQ(PcRegisterAdapterPowerManagement(g_Log.miniportSawAdapter, machine->FunctionDevice()),
              STATUS_INVALID_DEVICE_REQUEST);
  });
  EXPECT_EQ(machine->SendPnp(IRP_MN_QUERY_CAPABILITIES), STATUS_SUCCESS);
  EXPECT_EQ(g_Log.capabilityQueries, 1u);
  EXPECT_EQ(machine->LastCapabilities().SurpriseRemovalOK, 1u);

  PIRP irp = nullptr;
  auto sendPower = [&](UCHAR minor, DEVICE_POWER_STATE state) {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    machine->RunInKernelThread([&] {
      PDEVICE_OBJECT top = machine->FunctionDevice();
      irp = IoAllocateIrp(top->StackSize, FALSE);
      PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
      next->MajorFunction = IRP_MJ_POWER;
      next->MinorFunction = minor;
      next->Parameters.Power.Type = DevicePowerState;
      next->Parameters.Power.State.DeviceState = state;
      IoSetCompletionRoutine(
          irp,
          [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
          nullptr, TRUE, TRUE, TRUE);
      IoCallDriver(top, irp);
      status = irp->IoStatus.Status;
      IoFreeIrp(irp);
    });
    return status;
  };
  EXPECT_EQ(sendPower(IRP_MN_SET_POWER, PowerDeviceD3), STATUS_SUCCESS);
  EXPECT_EQ(sendPower(IRP_MN_SET_POWER, PowerDeviceD0), STATUS_SUCCESS);
  g_Script.queryPower = STATUS_DEVICE_BUSY;
  EXPECT_EQ(sendPower(IRP_MN_QUERY_POWER, PowerDeviceD3), STATUS_DEVICE_BUSY);
  EXPECT_THAT(g_Log.powerChanges, ::testing::ElementsAre(PowerDeviceD3, PowerDeviceD0));
}

TEST_F(PortClsTest, FilterOpensNeedARegisteredSubdeviceAndKsRequestsAreChecked) {
  ASSERT_EQ(Plug(), STATUS_SUCCESS);
  std::vector<DispatchedRequest> seen;
  SetDispatchObserver([&](const DispatchedRequest& r) { seen.push_back(r); });
  std::u16string link = AudioInterfaces().at(0);
  HANDLE handle = nullptr;
  EXPECT_EQ(Open(link, u"\\pin", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
  ASSERT_EQ(Open(link, u"", &handle), STATUS_SUCCESS);
  // Shorter than a property: refused before anything is read.
  EXPECT_EQ(DeviceControl(handle, IOCTL_KS_PROPERTY, {1, 2, 3}, 8), STATUS_INVALID_PARAMETER);
  KSPROPERTY count = {};
  count.Set = KSPROPSETID_Pin;
  count.Id = KSPROPERTY_PIN_CTYPES;
  count.Flags = KSPROPERTY_TYPE_GET;
  std::vector<UCHAR> request(sizeof(count));
  std::memcpy(request.data(), &count, sizeof(count));
  ULONG_PTR information = 0;
  EXPECT_EQ(DeviceControl(handle, IOCTL_KS_PROPERTY, request, sizeof(ULONG), &information),
            STATUS_SUCCESS);
  EXPECT_EQ(information, sizeof(ULONG));
  Close(handle);
  SetDispatchObserver({});
  std::vector<UCHAR> majors;
  for (const auto& r : seen) majors.push_back(r.major);
  EXPECT_THAT(majors, ::testing::ElementsAre(IRP_MJ_CREATE, IRP_MJ_CREATE, IRP_MJ_DEVICE_CONTROL,
                                             IRP_MJ_DEVICE_CONTROL, IRP_MJ_CLEANUP, IRP_MJ_CLOSE));
}

TEST_F(PortClsTest, DispatchingForAForeignDeviceStopsTheMachine) {
  // No device is plugged: a stopped machine never tears a started driver down, so whatever the
  // framework held of it would stay allocated.
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  machine->RunInKernelThread([&] {
    PDEVICE_OBJECT foreign = nullptr;
    ASSERT_EQ(
        IoCreateDevice(machine->Driver(), 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &foreign),
        STATUS_SUCCESS);
    PIRP irp = IoAllocateIrp(1, FALSE);
    PcDispatchIrp(foreign, irp);
  });
  EXPECT_TRUE(kernel().Stopped());
}

}  // namespace
}  // namespace tarnlink::portcls::testing
