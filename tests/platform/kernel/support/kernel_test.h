// A gtest fixture that boots a machine per test. An unexpected bug check or deadlock fails the
// test with the machine's report (reason, threads, recent trace points); a test can declare the
// bug check it expects, and ask for a leak check of pool, handles and objects at the end.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "kernel/host_kernel.h"

namespace tarnlink::kernel::testing {

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Options for the machine; override to run in real time or with a smaller trace ring.
  virtual HostKernel::Options MachineOptions() const { return {}; }

  HostKernel& kernel() { return *kernel_; }
  void ExpectBugCheck(ULONG code);
  void ExpectDeadlock() { deadlockExpected_ = true; }
  void CheckLeaksAtTearDown() { checkLeaks_ = true; }

  // Runs body on a new kernel thread until it ends; false when the machine stopped instead.
  bool RunInThread(std::function<void()> body, std::string name = "test body");
  // Runs body on a new thread as the main thread of a fresh user process (its own handle
  // table). The process ends after the body and its handles close, unless keep is given: it
  // then receives the process, referenced, for the caller to end.
  void RunAsUser(const std::function<void()>& body, PEPROCESS* keep = nullptr);
  // Machine time in 100 ns units and in milliseconds.
  uint64_t Now() const { return kernel_->InterruptTime(); }
  static constexpr uint64_t kMs = 10000;

 private:
  std::unique_ptr<HostKernel> kernel_;
  bool deadlockExpected_ = false;
  bool checkLeaks_ = false;
};

}  // namespace tarnlink::kernel::testing
