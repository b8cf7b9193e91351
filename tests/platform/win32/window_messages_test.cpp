// The non-visual window system in virtual time: a hidden window on its own thread receiving
// timers, power broadcasts and device-interface arrival and removal, sent and posted messages,
// and the end of its message loop.
#include <string>
#include <vector>

#include "io_test_stack.h"
#include "kernel/pnp_device_interface.h"
#include "user_process_test.h"
#include "win32/win32_host.h"

namespace tarnlink::win32::test {
namespace {

using io::test::TestStack;

constexpr GUID kAudioClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

struct Seen {
  UINT message;
  WPARAM wParam;
  ULONGLONG time;  // machine time in ms
  std::u16string path;
};

struct WatchWindow {
  std::vector<Seen> seen;
  HANDLE ready = nullptr;
  HWND window = nullptr;
  bool registerDevices = false;
};

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* watch = reinterpret_cast<WatchWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      return 0;
    }
    case WM_TIMER:
    case WM_POWERBROADCAST:
    case WM_APP:
      watch->seen.push_back({message, wParam, GetTickCount64(), {}});
      if (message == WM_TIMER && watch->seen.size() == 4) KillTimer(window, wParam);
      return message == WM_APP ? 77 : TRUE;
    case WM_DEVICECHANGE: {
      auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
      watch->seen.push_back({message, wParam, GetTickCount64(), record->dbcc_name});
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(5);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

DWORD WINAPI WindowThread(LPVOID parameter) {
  auto* watch = static_cast<WatchWindow*>(parameter);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = u"Velmor_USBDAC_ASIO";
  if (RegisterClassExW(&windowClass) == 0) return 1;
  watch->window = CreateWindowExW(0, u"Velmor_USBDAC_ASIO", u"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                                  nullptr, nullptr, nullptr, watch);
  if (watch->window == nullptr) return 2;
  if (watch->registerDevices) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kAudioClass;
    if (RegisterDeviceNotificationW(watch->window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) == nullptr)
      return 3;
  }
  SetEvent(watch->ready);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  UnregisterClassW(u"Velmor_USBDAC_ASIO", nullptr);
  return static_cast<DWORD>(message.wParam);
}

class WindowMessagesTest : public UserProcessTest {
 protected:
  // Starts the window thread and waits until its window exists.
  HANDLE Start(WatchWindow* watch) {
    watch->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WindowThread, watch, 0, nullptr);
    const HANDLE both[2] = {watch->ready, thread};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0);
    return thread;
  }
  DWORD Finish(WatchWindow* watch, HANDLE thread) {
    // WM_QUIT posted to the window ends its loop (the loop's owner then unregisters).
    PostMessageW(watch->window, WM_QUIT, 9, 0);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    CloseHandle(watch->ready);
    return code;
  }
};

TEST_F(WindowMessagesTest, AHiddenWindowGetsItsTimersAndPowerBroadcastsInMachineTime) {
  RunAsUser([&] {
    WatchWindow watch;
    HANDLE thread = Start(&watch);
    const ULONGLONG start = GetTickCount64();
    // The timer belongs to the window's thread even when another thread sets it.
    EXPECT_EQ(SetTimer(watch.window, 2, 12, nullptr), 2u);
    Sleep(5);
    BroadcastPower(PBT_APMSUSPEND);
    Sleep(60);
    BroadcastPower(PBT_APMRESUMEAUTOMATIC);
    Sleep(1);
    EXPECT_EQ(Finish(&watch, thread), 9u);
    ASSERT_EQ(watch.seen.size(), 5u);
    EXPECT_EQ(watch.seen[0].message, static_cast<UINT>(WM_POWERBROADCAST));
    EXPECT_EQ(watch.seen[0].wParam, static_cast<WPARAM>(PBT_APMSUSPEND));
    EXPECT_EQ(watch.seen[0].time - start, 5u);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(watch.seen[i].message, static_cast<UINT>(WM_TIMER));
      EXPECT_EQ(watch.seen[i].wParam, 2u);
      EXPECT_EQ(watch.seen[i].time - start, 12u * i);
    }
    EXPECT_EQ(watch.seen[4].wParam, static_cast<WPARAM>(PBT_APMRESUMEAUTOMATIC));
    EXPECT_EQ(watch.seen[4].time - start, 65u);
  });
}

TEST_F(WindowMessagesTest, SentMessagesRunOnTheWindowsThreadAndReturnItsAnswer) {
  RunAsUser([&] {
    WatchWindow watch;
    HANDLE thread = Start(&watch);
    EXPECT_EQ(SendMessageW(watch.window, WM_APP, 1, 0), 77);
    EXPECT_TRUE(PostMessageW(watch.window, WM_APP, 0, 0));
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x4), WM_APP, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    // A window is destroyed by its own thread only.
    EXPECT_FALSE(DestroyWindow(watch.window));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // WM_CLOSE's default destroys the window, whose WM_DESTROY posts the quit.
    SendMessageW(watch.window, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 5u);
    EXPECT_FALSE(IsWindow(watch.window));
    // Sent messages come before posted ones: WM_CLOSE destroyed the window before the posted
    // WM_APP was taken, and a destroyed window's posted messages go with it.
    ASSERT_EQ(watch.seen.size(), 1u);
    EXPECT_EQ(watch.seen[0].wParam, 1u);
    CloseHandle(thread);
    CloseHandle(watch.ready);
  });
}

TEST_F(WindowMessagesTest, DeviceInterfacesArrivingAndLeavingReachTheRegisteredWindow) {
  TestStack stack;
  std::u16string link;
  ASSERT_TRUE(RunInThread([&] { stack.Build(); }));
  RunAsUser([&] {
    WatchWindow watch;
    watch.registerDevices = true;
    HANDLE thread = Start(&watch);
    link = stack.EnableInterface(kAudioClass, u"Wave");
    Sleep(1);
    UNICODE_STRING name = {static_cast<USHORT>(link.size() * 2),
                           static_cast<USHORT>(link.size() * 2), link.data()};
    IoSetDeviceInterfaceState(&name, FALSE);
    Sleep(1);
    Finish(&watch, thread);
    ASSERT_EQ(watch.seen.size(), 2u);
    EXPECT_EQ(watch.seen[0].message, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(watch.seen[0].wParam, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(watch.seen[0].path, u"\\\\?\\" + link.substr(4));
    EXPECT_EQ(watch.seen[1].wParam, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
  });
  ASSERT_TRUE(RunInThread([&] { stack.TearDown(); }));
}

TEST_F(WindowMessagesTest, ClassesAreRegisteredOncePerProcess) {
  RunAsUser([] {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = u"Panel";
    EXPECT_NE(RegisterClassExW(&windowClass), 0);
    EXPECT_EQ(RegisterClassExW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    HWND window = CreateWindowExW(0, u"PANEL", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(UnregisterClassW(u"Panel", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_EQ(CreateWindowExW(0, u"Missing", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_TRUE(UnregisterClassW(u"Panel", nullptr));
    // A thread timer without a window comes back to the thread's own loop.
    const UINT_PTR id = SetTimer(nullptr, 0, 1, nullptr);
    MSG message;
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(message.wParam, id);
    EXPECT_EQ(GetTickCount64() - start, static_cast<ULONGLONG>(USER_TIMER_MINIMUM));
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
