// The open gate among the device's locks: the verifier knows its taking and release, so that
// taking it against the order (control mutex, open gate, stream mutex) stops the machine as a
// mutex inversion does.
#include <gmock/gmock.h>

#include <functional>

#include "open_gate.h"
#include "support/kernel_test.h"

namespace tarnlink::engine::testing {
namespace {

// The adapter's control mutex and the engine's gate and stream mutex, once taken in order.
struct DeviceLocks {
  KMUTEX control;
  COpenGate gate;
  KMUTEX stream;

  DeviceLocks() {
    KeInitializeMutex(&control, 0);
    gate.Initialize();
    KeInitializeMutex(&stream, 0);
    Take(&control);
    gate.TakeForOpener();
    Take(&stream);
    KeReleaseMutex(&stream, FALSE);
    gate.Release();
    KeReleaseMutex(&control, FALSE);
  }
  static void Take(KMUTEX* mutex) {
    KeWaitForSingleObject(mutex, Executive, KernelMode, FALSE, nullptr);
  }
};

struct Inversion {
  const char* name;
  std::function<void(DeviceLocks&)> body;
};

void PrintTo(const Inversion& inversion, std::ostream* out) {
  *out << inversion.name;
}

const Inversion kInversions[] = {
    {"ControlMutexUnderTheGate",
     [](DeviceLocks& locks) {
       locks.gate.TakeForOpener();
       DeviceLocks::Take(&locks.control);
     }},
    {"GateUnderTheStreamMutex",
     [](DeviceLocks& locks) {
       DeviceLocks::Take(&locks.stream);
       locks.gate.TakeForOpener();
     }},
    {"RecoveryGateUnderTheStreamMutex",
     [](DeviceLocks& locks) {
       DeviceLocks::Take(&locks.stream);
       locks.gate.TryTakeForRecovery();
     }},
};

class OpenGateOrderTest : public kernel::testing::KernelTest,
                          public ::testing::WithParamInterface<Inversion> {};

TEST_P(OpenGateOrderTest, AnInversionStopsTheMachine) {
  ExpectBugCheck(DRIVER_VERIFIER_DETECTED_VIOLATION);
  EXPECT_FALSE(RunInThread([] {
    DeviceLocks locks;
    GetParam().body(locks);
  }));
  ASSERT_NE(kernel().Stop(), nullptr);
  EXPECT_THAT(kernel().Stop()->reason, ::testing::HasSubstr("lock order inversion"));
}

INSTANTIATE_TEST_SUITE_P(Inversions, OpenGateOrderTest, ::testing::ValuesIn(kInversions),
                         [](const auto& param) { return std::string(param.param.name); });

using OpenGateTest = kernel::testing::KernelTest;

// In order, an opener's and a recovery's hold pass the check, and each is released by its taker.
TEST_F(OpenGateTest, TakenInOrderItPassesTheCheck) {
  EXPECT_TRUE(RunInThread([] {
    DeviceLocks locks;
    ASSERT_TRUE(locks.gate.TryTakeForRecovery());
    EXPECT_FALSE(locks.gate.TryTakeForRecovery()) << "held";
    DeviceLocks::Take(&locks.stream);
    KeReleaseMutex(&locks.stream, FALSE);
    locks.gate.Release();
    EXPECT_EQ(locks.gate.Value(), COpenGate::kFree);
  }));
}

}  // namespace
}  // namespace tarnlink::engine::testing
