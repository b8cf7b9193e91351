// A fixture for the Win32 layer: a machine per test, and bodies that run as the main thread of
// a fresh user process (its own handle table), as a program's code would.
#pragma once

#include <functional>

#include "kernel/ke.h"
#include "kernel/ps.h"
#include "kernel/ps_process.h"
#include "support/kernel_test.h"
#include "user_mode.h"

namespace tarnlink::win32::test {

class UserProcessTest : public kernel::testing::KernelTest {
 protected:
  // Runs body in a new process on a new thread until it ends; the process ends with it and
  // its handles close.
  void RunAsUser(const std::function<void()>& body) {
    ASSERT_TRUE(RunInThread([&] {
      PEPROCESS user = nullptr;
      ASSERT_EQ(PsHostCreateProcess("host.exe", &user), STATUS_SUCCESS);
      PEPROCESS previous = PsGetCurrentProcess();
      PsHostSetThreadProcess(KeGetCurrentThread(), user);
      body();
      PsHostTerminateProcess(user);
      PsHostSetThreadProcess(KeGetCurrentThread(), previous);
      ObDereferenceObject(user);
    }));
  }
};

}  // namespace tarnlink::win32::test
