// The COM server on the simulated machine: registration as an installer runs it, creation as a
// host does it, and the driver object's first calls against the kernel driver.
#include <gtest/gtest.h>

#include <string>

#include "asio_machine_test.h"
#include "com/dll_exports.h"
#include "driver/orv_asio_driver.h"
#include "win32/win32_host.h"

namespace asio_test {
namespace {

constexpr char16_t kModulePath[] = u"C:\\Program Files\\Velmor\\Tarnlink_asio.dll";
constexpr char16_t kClassKey[] = u"CLSID\\{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}";
constexpr char16_t kDriverKey[] = u"SOFTWARE\\ASIO\\Velmor USB Audio Tarn";

FARPROC Export(auto* function) { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function)); }

class ComServerTest : public AsioMachineTest {
 protected:
  void BeforeLoad() override {
    tarnlink::win32::RegisterModule(
        {kModulePath,
         DllMain,
         {{"DllGetClassObject", Export(DllGetClassObject)},
          {"DllCanUnloadNow", Export(DllCanUnloadNow)},
          {"DllRegisterServer", Export(DllRegisterServer)},
          {"DllUnregisterServer", Export(DllUnregisterServer)},
          {"DllMain", Export(DllMain)}}});
  }
};

bool KeyExists(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::u16string ReadString(HKEY root, const std::u16string& path, const WCHAR* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<none>";
  WCHAR value[400] = {};
  DWORD bytes = sizeof value - sizeof(WCHAR);
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? std::u16string(value) : u"<none>";
}

void AddKey(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(root, path.c_str(), &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

// What every Windows installation has before any package.
void SystemKeys() {
  AddKey(HKEY_CLASSES_ROOT, u"CLSID");
  AddKey(HKEY_LOCAL_MACHINE, u"SOFTWARE");
}

TEST_F(ComServerTest, RegistrationWritesTheClassAndTheAsioKeyAndKeepsItsOwnClassKey) {
  RunAsUser([&] {
    SystemKeys();
    // Not loaded: the server cannot find its own file.
    EXPECT_EQ(DllRegisterServer(), E_FAIL);
    ASSERT_NE(LoadLibraryW(kModulePath), nullptr);
    EXPECT_EQ(tarnlink::win32::DebugOutput().back(), u"DLL_PROCESS_ATTACH\n\n");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::u16string lowered = u"c:\\program files\\velmor\\tarnlink_asio.dll";
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr), u"Velmor USB Audio Tarn");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32", nullptr),
              lowered);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32",
                         WSTR("ThreadingModel")),
              u"Apartment");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, WSTR("CLSID")),
              u"{D71BCB38-F7DA-416D-9D6F-624AC7C5BA53}");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, WSTR("Description")),
              u"Velmor USB Audio Tarn");

    // The same file again: its class key stays as it is, the ASIO key is written anew.
    AddKey(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\Extra");
    AddKey(HKEY_LOCAL_MACHINE, std::u16string(kDriverKey) + u"\\Old");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\Extra"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::u16string(kDriverKey) + u"\\Old"));

    // Registered from elsewhere before: the whole class tree goes, other tools' keys with it.
    AddKey(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32\\Deep");
    HKEY server = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::u16string(kClassKey) + u"\\InprocServer32").c_str(),
                            0, KEY_ALL_ACCESS, &server),
              ERROR_SUCCESS);
    const std::u16string other = u"d:\\old\\tarnlink_asio.dll";
    RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>(other.size() * 2));
    RegCloseKey(server);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\Extra"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32\\Deep"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32", nullptr),
              lowered);

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ASIO"));
  });
  Unload();
}

TEST_F(ComServerTest, HostsCreateOneDriverObjectPerProcessThroughTheClassId) {
  ASSERT_EQ(machine->PlugCatalogueDevice("velmor-dac", 0), STATUS_SUCCESS);
  RunAsUser([&] {
    SystemKeys();
    ASSERT_NE(LoadLibraryW(kModulePath), nullptr);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const GUID unknownClass = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    LPVOID factory = reinterpret_cast<LPVOID>(1);
    EXPECT_EQ(DllGetClassObject(unknownClass, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(kDriverClsid, kDriverClsid, &factory), E_NOINTERFACE);
    EXPECT_EQ(factory, nullptr);

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    IASIO* driver = nullptr;
    ASSERT_EQ(CoCreateInstance(kDriverClsid, nullptr, CLSCTX_INPROC_SERVER, kDriverClsid,
                               reinterpret_cast<LPVOID*>(&driver)),
              S_OK);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    IASIO* second = nullptr;
    EXPECT_EQ(CoCreateInstance(kDriverClsid, nullptr, CLSCTX_INPROC_SERVER, kDriverClsid,
                               reinterpret_cast<LPVOID*>(&second)),
              E_OUTOFMEMORY);
    EXPECT_EQ(second, nullptr);

    // The class id gives the same IASIO; IUnknown the object's own unknown, a different face.
    IASIO* again = nullptr;
    IUnknown* unknown = nullptr;
    ASSERT_EQ(driver->QueryInterface(kDriverClsid, reinterpret_cast<PVOID*>(&again)), S_OK);
    EXPECT_EQ(again, driver);
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, reinterpret_cast<PVOID*>(&unknown)), S_OK);
    EXPECT_NE(static_cast<void*>(unknown), static_cast<void*>(driver));
    PVOID none = reinterpret_cast<PVOID>(1);
    EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    unknown->Release();
    again->Release();

    char name[32] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, "Velmor USB Audio Tarn");
    EXPECT_EQ(driver->getDriverVersion(), 1);
    LONG inputs = -1, outputs = -1;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_NotPresent);
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    char error[124] = {};
    driver->getErrorMessage(error);
    EXPECT_STREQ(error, "ASIO driver was initialized before this time.\n");
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(driver->getChannels(nullptr, &outputs), ASE_InvalidParameter);

    ASIOChannelInfo info = {};
    info.channel = 1;
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Velmor USB Audio Tarn In 2");
    EXPECT_EQ(info.isActive, ASIOFalse);
    info.channel = 2;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);

    ASSERT_EQ(driver->setSampleRate(48000), ASE_OK);
    LONG inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(inputLatency, 328);
    EXPECT_EQ(outputLatency, 489);

    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    // With the first gone, the process may make a new one.
    ASSERT_EQ(CoCreateInstance(kDriverClsid, nullptr, CLSCTX_INPROC_SERVER, kDriverClsid,
                               reinterpret_cast<LPVOID*>(&driver)),
              S_OK);
    driver->Release();
    CoUninitialize();
  });
  Unload();
}

}  // namespace
}  // namespace asio_test
