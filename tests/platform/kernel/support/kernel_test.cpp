#include "support/kernel_test.h"

#include "kernel/ke.h"
#include "kernel/ps.h"
#include "kernel/ps_process.h"

namespace tarnlink::kernel::testing {

void KernelTest::SetUp() {
  kernel_ = std::make_unique<HostKernel>(MachineOptions());
}

void KernelTest::ExpectBugCheck(ULONG code) {
  kernel_->ExpectBugCheck(code);
}

void KernelTest::TearDown() {
  const StopInfo* stop = kernel_->Stop();
  if (stop != nullptr) {
    const bool expected =
        stop->kind == StopInfo::Kind::Deadlock
            ? deadlockExpected_
            : kernel_->BugCheckExpected() &&
                  (kernel_->ExpectedBugCheck() == 0 || kernel_->ExpectedBugCheck() == stop->code);
    if (!expected) ADD_FAILURE() << "the machine stopped unexpectedly\n" << stop->report;
  } else {
    if (kernel_->BugCheckExpected()) ADD_FAILURE() << "the expected bug check did not happen";
    if (deadlockExpected_) ADD_FAILURE() << "the expected deadlock did not happen";
    if (checkLeaks_ && !kernel_->DeclareDriverUnloaded()) ADD_FAILURE() << kernel_->Stop()->report;
  }
  if (HasFailure() && kernel_->ScheduleSeed() != 0)
    ADD_FAILURE() << "under schedule seed " << kernel_->ScheduleSeed()
                  << " (TARNLINK_SCHEDULE_SEED reproduces it)";
  kernel_.reset();
}

bool KernelTest::RunInThread(std::function<void()> body, std::string name) {
  PKTHREAD thread = kernel_->StartThread(std::move(body), std::move(name));
  return kernel_->RunUntilThreadsEnd({thread});
}

void KernelTest::RunAsUser(const std::function<void()>& body, PEPROCESS* keep) {
  ASSERT_TRUE(RunInThread([&] {
    PEPROCESS user = nullptr;
    ASSERT_EQ(PsHostCreateProcess("host.exe", &user), STATUS_SUCCESS);
    PEPROCESS previous = PsGetCurrentProcess();
    PsHostSetThreadProcess(KeGetCurrentThread(), user);
    body();
    PsHostSetThreadProcess(KeGetCurrentThread(), previous);
    if (keep != nullptr) {
      *keep = user;
    } else {
      PsHostTerminateProcess(user);
      ObDereferenceObject(user);
    }
  }));
}

}  // namespace tarnlink::kernel::testing
