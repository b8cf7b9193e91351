// The ASIO driver's tests on the simulated machine with the kernel driver loaded: a host
// process may outlive one test body while the machine unplugs, suspends or resumes a device.
#pragma once

#include <functional>

#include "driver_entry.h"
#include "kernel/ps_process.h"
#include "machine_test.h"

namespace asio_test {

class AsioMachineTest : public sim::machine::testing::MachineTest {
 protected:
  PDRIVER_INITIALIZE Entry() const override { return DriverEntry; }

  // Runs body in a process RunAsUser kept; the last body ends it.
  void InProcess(PEPROCESS process, const std::function<void()>& body, bool last = false) {
    ASSERT_TRUE(RunInThread([&] {
      PEPROCESS previous = PsGetCurrentProcess();
      PsHostSetThreadProcess(KeGetCurrentThread(), process);
      body();
      PsHostSetThreadProcess(KeGetCurrentThread(), previous);
      if (!last) return;
      PsHostTerminateProcess(process);
      ObDereferenceObject(process);
    }));
  }
  // Gives the machine back and proves that nothing was left behind.
  void Unload() { EXPECT_TRUE(machine->UnloadDriver()); }
};

}  // namespace asio_test
