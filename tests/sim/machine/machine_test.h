// A test fixture with a booted machine and the calls a client makes on a device interface:
// open (the rest of the path becomes the file name the driver sees), device control, close.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/machine/machine.h"
#include "support/kernel_test.h"

namespace sim::machine::testing {

class MachineTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The driver the machine installs; the fixture loads it in SetUp.
  virtual PDRIVER_INITIALIZE Entry() const = 0;
  virtual ::sim::machine::MachineOptions Options() const { return {}; }
  // Runs after the machine is built and before the driver loads.
  virtual void BeforeLoad() {}

  // Kernel links of the enabled audio interfaces, in registration order.
  static std::vector<std::u16string> AudioInterfaces();
  // Opens interface + suffix as a kernel-mode client; returns the create's status.
  NTSTATUS Open(const std::u16string& interfacePath, std::u16string_view suffix, HANDLE* handle);
  NTSTATUS DeviceControl(HANDLE handle, ULONG code, std::vector<UCHAR> input, ULONG outputLength,
                         ULONG_PTR* information = nullptr);
  void Close(HANDLE handle);

  std::unique_ptr<Machine> machine;
};

}  // namespace sim::machine::testing
