// The fixture of the Win32 layer's tests: a machine per test, bodies run as the main thread of
// a fresh user process (KernelTest::RunAsUser), and the user-mode umbrella.
#pragma once

#include "support/kernel_test.h"
#include "user_mode.h"

namespace tarnlink::win32::test {

using UserProcessTest = kernel::testing::KernelTest;

}  // namespace tarnlink::win32::test
