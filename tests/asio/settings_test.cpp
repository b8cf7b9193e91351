// The shared settings in the registry: defaults on first use, the table's type and size rules
// against hostile values, the argument rules, the control panel's notifying write and its launch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/control_panel_launch.h"
#include "settings/cpl_reg_util.h"
#include "settings/sync_objects.h"
#include "support/kernel_test.h"
#include "win32/win32_host.h"

namespace {

using SettingsTest = tarnlink::kernel::testing::KernelTest;

HKEY CreateSettingsKey() {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0,
                            KEY_WRITE | KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

void Store(LPCWSTR name, DWORD type, const std::vector<BYTE>& bytes) {
  HKEY key = CreateSettingsKey();
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::vector<BYTE> Bytes(const std::u16string& text, size_t bytes) {
  std::vector<BYTE> data(bytes, 0);
  std::memcpy(data.data(), text.data(), std::min(bytes, text.size() * sizeof(char16_t)));
  return data;
}

bool Stored(LPCWSTR name, DWORD* type, std::vector<BYTE>* data) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  DWORD size = 1024;
  data->assign(size, 0);
  const LSTATUS status = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
  RegCloseKey(key);
  data->resize(size);
  return status == ERROR_SUCCESS;
}

TEST_F(SettingsTest, TheFirstReadCreatesTheKeyWithItsDefaultsAndAnExistingKeyIsLeftAlone) {
  RunAsUser([] {
    CmnRegUtil settings;
    EXPECT_EQ(settings.ReadNumber(kSettingBufferSizeIndex), 63u);
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 44100u);
    DWORD type = 0;
    std::vector<BYTE> selected;
    ASSERT_TRUE(Stored(WSTR("selected"), &type, &selected));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(selected, std::vector<BYTE>(256, 0));
    // The stored empty device is longer than a read takes: it reads as no device.
    WCHAR text[kSelectedCodeUnits + 1];
    settings.ReadSelected(text);
    EXPECT_EQ(std::u16string(text), u"");

    EXPECT_TRUE(settings.WriteNumber(kSettingSamplingRate, 96000));
    EXPECT_TRUE(settings.CreateDefaults());
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 96000u);
  });
}

struct HostileValue {
  const char* what;
  LPCWSTR name;
  DWORD type;
  std::vector<BYTE> data;
};

// Values another program (or a damaged profile) may have left: each read fails and leaves the
// caller's buffer exactly as it was.
TEST_F(SettingsTest, ValuesOfTheWrongTypeOrSizeAreNotRead) {
  const std::vector<HostileValue> cases = {
      {"rate as text", WSTR("sampling_rate"), REG_SZ, Bytes(u"48000", 12)},
      {"rate as binary", WSTR("sampling_rate"), REG_BINARY, {0x80, 0xBB, 0, 0}},
      {"short rate", WSTR("sampling_rate"), REG_DWORD, {0x80, 0xBB}},
      {"empty rate", WSTR("sampling_rate"), REG_DWORD, {}},
      {"long rate", WSTR("sampling_rate"), REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"index as qword", WSTR("buffer_size_index"), REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"device as number", WSTR("selected"), REG_DWORD, {1, 0, 0, 0}},
      {"device too long", WSTR("selected"), REG_SZ, Bytes(u"USB", 130)},
  };
  RunAsUser([&] {
    CmnRegUtil settings;
    for (const HostileValue& c : cases) {
      SCOPED_TRACE(c.what);
      Store(c.name, c.type, c.data);
      BYTE buffer[200];
      std::memset(buffer, 0xCC, sizeof buffer);
      const int id = std::u16string(c.name) == u"selected"          ? kSettingSelected
                     : std::u16string(c.name) == u"sampling_rate" ? kSettingSamplingRate
                                                                   : kSettingBufferSizeIndex;
      EXPECT_EQ(settings.ReadValue(id, buffer, sizeof buffer), 0);
      EXPECT_EQ(std::vector<BYTE>(buffer, buffer + sizeof buffer), std::vector<BYTE>(200, 0xCC));
    }
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 0u);
  });
}

TEST_F(SettingsTest, ADeviceNameWithoutTerminatorEndsInsideTheBuffer) {
  RunAsUser([] {
    CmnRegUtil settings;
    // 64 code units, all the read takes, and no terminator among them.
    Store(WSTR("selected"), REG_SZ, Bytes(std::u16string(64, u'X'), 128));
    WCHAR text[kSelectedCodeUnits + 1];
    settings.ReadSelected(text);
    EXPECT_EQ(std::u16string(text), std::u16string(64, u'X'));
    // An odd byte count leaves half a code unit, which reads as zero bits above it.
    Store(WSTR("selected"), REG_SZ, {'A', 0, 'B'});
    settings.ReadSelected(text);
    EXPECT_EQ(std::u16string(text), u"AB");
  });
}

TEST_F(SettingsTest, ArgumentsAreCheckedBeforeTheRegistryIsTouched) {
  RunAsUser([] {
    CmnRegUtil settings;
    DWORD value = 7;
    EXPECT_EQ(settings.ReadValue(kSettingSamplingRate, nullptr, 4), 0);
    EXPECT_EQ(settings.ReadValue(kSettingSamplingRate, &value, 0), 0);
    WCHAR shortBuffer[10];
    EXPECT_EQ(settings.ReadValue(kSettingSelected, shortBuffer, sizeof shortBuffer), 0);
    // An id the table does not know reads nothing and succeeds.
    EXPECT_EQ(settings.ReadValue(42, &value, sizeof value), 1);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(settings.WriteValue(-1, &value, sizeof value), 0);
    EXPECT_EQ(settings.WriteValue(kSettingSamplingRate, nullptr, 4), 0);
    EXPECT_EQ(settings.WriteValue(kSettingSamplingRate, &value, 0), 0);
    EXPECT_EQ(settings.WriteValue(42, &value, sizeof value), 0);
  });
}

TEST_F(SettingsTest, AWriteNeedsTheKeyToExist) {
  RunAsUser([] {
    CmnRegUtil settings;
    EXPECT_EQ(settings.WriteNumber(kSettingSamplingRate, 48000), 0);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(settings.ReadNumber(kSettingSamplingRate), 44100u);
    EXPECT_EQ(settings.WriteSelected(WSTR("USB\\VID_7A31&PID_0C5E&MI_00\\1")), 1);
    WCHAR text[kSelectedCodeUnits + 1];
    settings.ReadSelected(text);
    EXPECT_EQ(std::u16string(text), u"USB\\VID_7A31&PID_0C5E&MI_00\\1");
  });
}

// The control panel tells listening driver objects through the change event, and only them.
TEST_F(SettingsTest, TheControlPanelsWriteSetsTheChangeEventOnlyWhileADriverListens) {
  RunAsUser([] {
    CCplRegUtil panel;
    ASSERT_EQ(panel.CreateDefaults(), 1);
    EXPECT_EQ(panel.WriteNumber(kSettingBufferSizeIndex, 10), 1);
    CRegUtil2 driver;
    ASSERT_EQ(driver.CreateEvents(), 1);
    EXPECT_EQ(WaitForSingleObject(driver.ChangeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(panel.WriteNumber(kSettingBufferSizeIndex, 11), 1);
    EXPECT_EQ(WaitForSingleObject(driver.ChangeEvent(), 0), WAIT_OBJECT_0);
    // A write that failed tells nobody.
    EXPECT_EQ(panel.WriteValue(kSettingBufferSizeIndex, nullptr, 4), 0);
    EXPECT_EQ(WaitForSingleObject(driver.ChangeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(driver.ReadNumber(kSettingBufferSizeIndex), 11u);
  });
}

void WriteSetupValue(DWORD type, const std::u16string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSetupKeyPath, 0, nullptr, 0,
                            KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, kControlPanelValue, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
}

TEST_F(SettingsTest, TheControlPanelStartsFromTheSetupKeyAndOnlyFromAStoredPath) {
  const std::u16string path = u"C:\\Program Files\\Velmor\\Tarnlink_cpl.exe";
  int started = 0;
  RunAsUser([&] {
    HANDLE ran = CreateEventW(nullptr, TRUE, FALSE, WSTR("panel ran"));
    tarnlink::win32::RegisterProgram(path, [&](const std::u16string&) -> DWORD {
      ++started;
      HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, WSTR("panel ran"));
      SetEvent(event);
      CloseHandle(event);
      return 0;
    });
    LaunchControlPanel();  // no setup key
    WriteSetupValue(REG_EXPAND_SZ, path);
    LaunchControlPanel();
    WriteSetupValue(REG_SZ, u"C:\\nowhere.exe");
    LaunchControlPanel();
    Sleep(100);
    EXPECT_EQ(started, 0);
    WriteSetupValue(REG_SZ, path);
    LaunchControlPanel();
    // The panel runs in its own process; the launcher does not wait for it.
    EXPECT_EQ(WaitForSingleObject(ran, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(started, 1);
    CloseHandle(ran);
  });
}

}  // namespace
