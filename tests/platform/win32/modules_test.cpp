// The machine's module table: loading by file name in each process, DllMain at the first load
// and the last free, module names and exports, and debug output.
#include <string>
#include <vector>

#include "user_process_test.h"
#include "win32/win32_host.h"

namespace tarnlink::win32::test {
namespace {

using ModulesTest = UserProcessTest;

std::vector<DWORD> g_reasons;

BOOL WINAPI RecordingDllMain(HINSTANCE, DWORD reason, LPVOID) {
  g_reasons.push_back(reason);
  OutputDebugStringW(reason == DLL_PROCESS_ATTACH ? u"DLL_PROCESS_ATTACH\n\n"
                                                  : u"DLL_PROCESS_DETACH\n\n");
  return TRUE;
}

INT_PTR WINAPI Seven() {
  return 7;
}

TEST_F(ModulesTest, AModuleLoadsOncePerProcessAndAnswersForItsNameAndExports) {
  g_reasons.clear();
  RunAsUser([] {
    HMODULE registered = RegisterModule(
        {u"C:\\Program Files\\Velmor\\Tarnlink_asio.dll", RecordingDllMain, {{"Seven", Seven}}});
    EXPECT_EQ(GetModuleHandleW(u"Tarnlink_asio.dll"), nullptr);  // not loaded here yet
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    HMODULE module = LoadLibraryW(u"tarnlink_asio");
    EXPECT_EQ(module, registered);
    EXPECT_EQ(LoadLibraryW(u"C:\\Program Files\\Velmor\\TARNLINK_ASIO.DLL"), module);
    EXPECT_EQ(GetModuleHandleW(u"Tarnlink_asio.dll"), module);
    FARPROC seven = GetProcAddress(module, "Seven");
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(seven(), 7);
    EXPECT_EQ(GetProcAddress(module, "Eight"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    WCHAR path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(module, path, MAX_PATH), 41u);
    EXPECT_EQ(std::u16string(path), u"C:\\Program Files\\Velmor\\Tarnlink_asio.dll");
    // Too small a buffer: truncated, terminated, and the error.
    WCHAR small[8];
    EXPECT_EQ(GetModuleFileNameW(module, small, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(small), u"C:\\Prog");
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(g_reasons, std::vector<DWORD>{DLL_PROCESS_ATTACH});
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(g_reasons, (std::vector<DWORD>{DLL_PROCESS_ATTACH, DLL_PROCESS_DETACH}));
    EXPECT_EQ(LoadLibraryW(u"Missing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  });
  EXPECT_EQ(DebugOutput(), (std::vector<std::u16string>{u"DLL_PROCESS_ATTACH\n\n",
                                                         u"DLL_PROCESS_DETACH\n\n"}));
}

}  // namespace
}  // namespace tarnlink::win32::test
