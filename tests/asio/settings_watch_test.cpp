// The settings-watch thread: listening shows in the listener event, each change reaches the
// driver object, the quit event ends it, and without its events it does not start listening.
#include <gtest/gtest.h>

#include "settings/cpl_reg_util.h"
#include "settings/settings_watch.h"
#include "support/kernel_test.h"

namespace {

using SettingsWatchTest = tarnlink::kernel::testing::KernelTest;

struct CountingSink final : ISettingsChangeSink {
  virtual ~CountingSink() = default;
  void OnSettingsChanged() override {
    ++changes;
    SetEvent(handled);
  }
  int changes = 0;
  HANDLE handled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TEST_F(SettingsWatchTest, ListensUntilQuitAndHandsEachChangeOver) {
  RunAsUser([] {
    CRegUtil2 settings;
    ASSERT_EQ(settings.CreateEvents(), 1);
    CountingSink sink;
    SettingsWatch watch = {&settings, &sink};
    HANDLE thread = CreateThread(nullptr, 0, SettingsWatchThread, &watch, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The listener event is how a writer knows someone listens.
    Sleep(1);
    EXPECT_EQ(WaitForSingleObject(settings.ListenerEvent(), 0), WAIT_OBJECT_0);

    CCplRegUtil panel;
    ASSERT_EQ(panel.CreateDefaults(), 1);
    ASSERT_EQ(panel.WriteNumber(kSettingBufferSizeIndex, 5), 1);
    EXPECT_EQ(WaitForSingleObject(sink.handled, 1000), WAIT_OBJECT_0);
    ASSERT_EQ(panel.WriteNumber(kSettingSamplingRate, 48000), 1);
    EXPECT_EQ(WaitForSingleObject(sink.handled, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(sink.changes, 2);

    SetEvent(settings.QuitEvent());
    EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(WaitForSingleObject(settings.ListenerEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(thread);
    CloseHandle(sink.handled);
  });
}

TEST_F(SettingsWatchTest, WithoutItsEventsTheThreadEndsAtOnce) {
  RunAsUser([] {
    CRegUtil2 settings;  // events never created
    CountingSink sink;
    SettingsWatch watch = {&settings, &sink};
    HANDLE thread = CreateThread(nullptr, 0, SettingsWatchThread, &watch, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(-1));
    EXPECT_EQ(sink.changes, 0);
    CloseHandle(thread);
    CloseHandle(sink.handled);
  });
}

}  // namespace
