// The registry calls over the machine's one registry, and change notification as the settings
// watchers use it: one wake per change, writes between two requests folded into one, and a
// waiting request completed by closing the key.
#include <string>

#include "user_process_test.h"

namespace tarnlink::win32::test {
namespace {

using RegistryTest = UserProcessTest;

constexpr const WCHAR* kSettings = u"SOFTWARE\\Velmor\\Tarnlink";
constexpr DWORD kAllChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                              REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

TEST_F(RegistryTest, KeysAndValuesBehaveAsTheRegistryCallsSay) {
  RunAsUser([] {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(SetDword(key, u"sampling_rate", 44100), ERROR_SUCCESS);
    const WCHAR selected[] = u"USB\\VID_7A31";
    EXPECT_EQ(RegSetValueExW(key, u"selected", 0, REG_SZ, reinterpret_cast<const BYTE*>(selected),
                             sizeof selected),
              ERROR_SUCCESS);
    // A write-only handle cannot read.
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"sampling_rate", nullptr, &type, nullptr, &size),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_READ, nullptr,
                              &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    DWORD rate = 0;
    size = sizeof rate;
    EXPECT_EQ(RegQueryValueExW(again, u"SAMPLING_RATE", nullptr, &type,
                               reinterpret_cast<LPBYTE>(&rate), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(rate, 44100u);
    // Too small a buffer: ERROR_MORE_DATA and the size needed; a size query needs no buffer.
    WCHAR text[4];
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(again, u"selected", nullptr, &type, reinterpret_cast<LPBYTE>(text),
                               &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof selected);
    size = 0;
    EXPECT_EQ(RegQueryValueExW(again, u"selected", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof selected);
    EXPECT_EQ(RegQueryValueExW(again, u"missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(again);
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Nobody", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
  });
}

TEST_F(RegistryTest, ClassesRootIsTheMachinesClassesKeyAndTreesDeleteChildFirst) {
  RunAsUser([] {
    HKEY clsid = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, u"CLSID\\{D71BCB38}", &clsid), ERROR_SUCCESS);
    HKEY server = nullptr;
    ASSERT_EQ(RegCreateKeyW(clsid, u"InprocServer32", &server), ERROR_SUCCESS);
    RegCloseKey(server);
    HKEY viaMachine = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            u"SOFTWARE\\Classes\\CLSID\\{D71BCB38}\\InprocServer32", 0,
                            KEY_READ | KEY_WOW64_64KEY, &viaMachine),
              ERROR_SUCCESS);
    RegCloseKey(viaMachine);
    WCHAR name[32];
    DWORD length = 32;
    EXPECT_EQ(RegEnumKeyExW(clsid, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"InprocServer32");
    EXPECT_EQ(length, 14u);
    length = 14;
    EXPECT_EQ(RegEnumKeyExW(clsid, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 32;
    EXPECT_EQ(RegEnumKeyExW(clsid, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"CLSID\\{D71BCB38}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(clsid, u"InprocServer32"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"CLSID\\{D71BCB38}"), ERROR_SUCCESS);
    // The open handle outlives its key.
    EXPECT_EQ(SetDword(clsid, u"x", 1), ERROR_KEY_DELETED);
    RegCloseKey(clsid);
  });
}

TEST_F(RegistryTest, ANotificationFiresOncePerChangeAndFoldsChangesBetweenRequests) {
  RunAsUser([] {
    HKEY writer = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &writer, nullptr),
              ERROR_SUCCESS);
    HKEY watched = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_NOTIFY | KEY_WOW64_64KEY,
                            &watched),
              ERROR_SUCCESS);
    HANDLE change = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto arm = [&] {
      return RegNotifyChangeKeyValue(watched, TRUE, kAllChanges, change, TRUE);
    };
    ASSERT_EQ(arm(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(change, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetDword(writer, u"buffer_size_index", 63);
    EXPECT_EQ(WaitForSingleObject(change, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(change, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // Three writes while no request waits: the next request completes at once, one time.
    SetDword(writer, u"buffer_size_index", 1);
    SetDword(writer, u"sampling_rate", 48000);
    HKEY child = nullptr;
    RegCreateKeyW(writer, u"child", &child);
    RegCloseKey(child);
    ASSERT_EQ(arm(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(change, 0), WAIT_OBJECT_0);
    ASSERT_EQ(arm(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(change, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    // Closing the key completes the waiting request.
    RegCloseKey(watched);
    EXPECT_EQ(WaitForSingleObject(change, 0), WAIT_OBJECT_0);
    RegCloseKey(writer);
    CloseHandle(change);
  });
}

TEST_F(RegistryTest, ANotificationSeesOnlyWhatItsFilterAndDepthAsk) {
  RunAsUser([] {
    HKEY writer = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, kSettings, &writer), ERROR_SUCCESS);
    HKEY child = nullptr;
    RegCreateKeyW(writer, u"child", &child);
    HKEY watched = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_NOTIFY, &watched),
              ERROR_SUCCESS);
    HANDLE change = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, change, TRUE),
              ERROR_SUCCESS);
    SetDword(child, u"deep", 1);  // below the key, not watched
    HKEY sibling = nullptr;
    RegCreateKeyW(writer, u"sibling", &sibling);  // a name change, not asked for
    EXPECT_EQ(WaitForSingleObject(change, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetDword(writer, u"sampling_rate", 96000);
    EXPECT_EQ(WaitForSingleObject(change, 0), WAIT_OBJECT_0);
    // Requests without an event, or on a handle without KEY_NOTIFY, are refused.
    EXPECT_EQ(RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, TRUE),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegNotifyChangeKeyValue(writer, FALSE, REG_NOTIFY_CHANGE_LAST_SET, change, TRUE),
              ERROR_SUCCESS);  // RegCreateKeyW opens with every access
    HKEY readOnly = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_QUERY_VALUE, &readOnly);
    EXPECT_EQ(RegNotifyChangeKeyValue(readOnly, FALSE, REG_NOTIFY_CHANGE_LAST_SET, change, TRUE),
              ERROR_ACCESS_DENIED);
    for (HKEY k : {writer, child, sibling, watched, readOnly}) RegCloseKey(k);
    CloseHandle(change);
  });
}

}  // namespace
}  // namespace tarnlink::win32::test
