// COM activation through the registry and the machine's module table, class id strings, and
// the multimedia class scheduler's priorities.
#include <string>

#include "kernel/ke.h"
#include "user_process_test.h"
#include "win32/win32_host.h"

namespace tarnlink::win32::test {
namespace {

using ComTest = UserProcessTest;

constexpr CLSID kDriver = {
    0xD71BCB38, 0xF7DA, 0x416D, {0x9D, 0x6F, 0x62, 0x4A, 0xC7, 0xC5, 0xBA, 0x53}};

struct Object final : IUnknown {
  STDMETHODIMP QueryInterface(REFIID, PVOID* out) override {
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  ULONG references = 1;
};
Object g_object;

struct Factory final : IClassFactory {
  STDMETHODIMP QueryInterface(REFIID, PVOID* out) override {
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, PVOID* out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return riid == kDriver ? g_object.QueryInterface(riid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

HRESULT STDAPICALLTYPE GetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  *out = nullptr;
  if (!(clsid == kDriver)) return CLASS_E_CLASSNOTAVAILABLE;
  if (!(iid == IID_IClassFactory)) return E_NOINTERFACE;
  *out = &g_factory;
  return S_OK;
}

void RegisterServer(const std::u16string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT,
                          u"CLSID\\{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}\\InprocServer32", &key),
            ERROR_SUCCESS);
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
}

TEST_F(ComTest, AnInProcessServerIsCreatedThroughTheRegistry) {
  RunAsUser([] {
    RegisterModule({u"C:\\Velmor\\Tarnlink_asio.dll",
                    nullptr,
                    {{"DllGetClassObject",
                      // Through the generic function type, as GetProcAddress's callers do.
                      reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(GetClassObject))}}});
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kDriver, nullptr, CLSCTX_INPROC_SERVER, kDriver,
                               reinterpret_cast<LPVOID*>(&object)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoCreateInstance(kDriver, nullptr, CLSCTX_INPROC_SERVER, kDriver,
                               reinterpret_cast<LPVOID*>(&object)),
              REGDB_E_CLASSNOTREG);
    RegisterServer(u"c:\\velmor\\missing.dll");
    EXPECT_EQ(CoCreateInstance(kDriver, nullptr, CLSCTX_INPROC_SERVER, kDriver,
                               reinterpret_cast<LPVOID*>(&object)),
              CO_E_DLLNOTFOUND);
    RegisterServer(u"c:\\velmor\\tarnlink_asio.dll");
    ASSERT_EQ(CoCreateInstance(kDriver, nullptr, CLSCTX_INPROC_SERVER, kDriver,
                               reinterpret_cast<LPVOID*>(&object)),
              S_OK);
    EXPECT_EQ(object, &g_object);
    EXPECT_NE(GetModuleHandleW(u"Tarnlink_asio.dll"), nullptr);  // loaded into this process
    EXPECT_EQ(CoCreateInstance(kDriver, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<LPVOID*>(&object)),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    CoUninitialize();
    CoUninitialize();
  });
}

TEST_F(ComTest, ClassIdsRoundTripThroughTheirStringForm) {
  RunAsUser([] {
    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(kDriver, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}");
    CLSID parsed = {};
    EXPECT_EQ(CLSIDFromString(text, &parsed), NOERROR);
    EXPECT_TRUE(parsed == kDriver);
    CoTaskMemFree(text);
    EXPECT_EQ(CLSIDFromString(u"{d71bcb38-f7da-416d-9d6f-624ac7c5ba53}", &parsed), NOERROR);
    EXPECT_TRUE(parsed == kDriver);
    for (const char16_t* bad : {u"", u"D71BCB38-F7DA-416D-9D6F-624AC7C5BA53",
                                u"{D71BCB38-F7DA-416D-9D6F-624AC7C5BA5}",
                                u"{D71BCB38-F7DA-416D-9D6F-624AC7C5BA5G}",
                                u"{D71BCB38+F7DA-416D-9D6F-624AC7C5BA53}"})
      EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING);
  });
}

TEST_F(ComTest, AProAudioThreadRunsAboveNormalThreadsUntilItLeavesTheTask) {
  RunAsUser([&] {
    DWORD index = 0;
    EXPECT_EQ(AvSetMmThreadCharacteristicsW(u"Games", &index), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_TASK_NAME));
    HANDLE task = AvSetMmThreadCharacteristicsW(u"Pro Audio", &index);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_TRUE(AvSetMmThreadPriority(task, AVRT_PRIORITY_CRITICAL));
    EXPECT_EQ(KeQueryPriorityThread(KeGetCurrentThread()), 26);
    EXPECT_TRUE(AvRevertMmThreadCharacteristics(task));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
    EXPECT_FALSE(AvSetMmThreadPriority(task, AVRT_PRIORITY_HIGH));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    const DWORD before = timeGetTime();
    Sleep(12);
    EXPECT_EQ(timeGetTime() - before, 12u);
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
