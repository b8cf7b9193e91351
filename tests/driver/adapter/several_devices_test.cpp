// The machine as the package's installer leaves it, with several devices plugged at once, one
// per root port: each starts with an instance id and a controller of its own, and one leaving
// does not disturb the others.
#include <gtest/gtest.h>

#include "driver_entry.h"
#include "kernel/registry_store.h"
#include "machine_test.h"

namespace {

class SeveralDevicesTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }
};

TEST_F(SeveralDevicesTest, TheInstallerLeavesTheControlPanelsPathInTheSetupKey) {
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef key = registry.Open(registry.Root(host::RegistryRoot::LocalMachine),
                                           sim::machine::kSetupKeyPath);
  ASSERT_NE(key, nullptr);
  host::RegistryValue value;
  ASSERT_EQ(registry.QueryValue(key, u"ControlPanel", &value), STATUS_SUCCESS);
  EXPECT_EQ(value.type, static_cast<ULONG>(REG_SZ));
  const std::u16string path(reinterpret_cast<const char16_t*>(value.data.data()),
                            value.data.size() / 2 - 1);
  EXPECT_EQ(path, sim::machine::kControlPanelPath);
}

TEST_F(SeveralDevicesTest, EachPortHoldsADeviceOfItsOwn) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 1), STATUS_SUCCESS);
  ASSERT_EQ(machine->PlugCatalogueDevice("uac2-playback-only", 3), STATUS_SUCCESS);
  EXPECT_EQ(machine->PlugCatalogueDevice("velmor-dac", 1), STATUS_INVALID_DEVICE_STATE);
  EXPECT_EQ(machine->PlugCatalogueDevice("velmor-dac", sim::machine::kRootPorts),
            STATUS_INVALID_DEVICE_STATE);
  EXPECT_EQ(machine->InstanceId(0), u"USB\\VID_7A31&PID_0C5E&MI_00\\1");
  EXPECT_EQ(machine->InstanceId(1), u"USB\\VID_7A31&PID_0C5E&MI_00\\2");
  for (size_t port : {0, 1, 3}) EXPECT_NE(machine->FunctionDevice(port), nullptr) << port;
  EXPECT_NE(machine->FunctionDevice(0), machine->FunctionDevice(1));
  EXPECT_NE(machine->Controller(0), machine->Controller(1));

  ASSERT_EQ(machine->UnplugDevice(sim::machine::Removal::Surprise, 1), STATUS_SUCCESS);
  EXPECT_FALSE(machine->DevicePlugged(1));
  EXPECT_TRUE(machine->DevicePlugged(0));
  EXPECT_NE(machine->FunctionDevice(3), nullptr);
  EXPECT_EQ(machine->SuspendSystem(), STATUS_SUCCESS);
  EXPECT_EQ(machine->ResumeSystem(), STATUS_SUCCESS);
  EXPECT_TRUE(machine->UnloadDriver());
}

}  // namespace
