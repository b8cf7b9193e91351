// Device interfaces (registration, states, enumeration, notices) and the kernel's registry calls
// on the device's hardware key, with their size-query behaviour.
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "io_test_stack.h"
#include "kernel/pnp_device_interface.h"
#include "kernel/registry_store.h"
#include "kernel/registry_zw.h"
#include "kernel_mode.h"
#include "support/kernel_test.h"

namespace tarnlink::io::test {
namespace {

using kernel::testing::KernelTest;

constexpr GUID kAudioClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kOtherClass = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

class PnpRegistryTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    ASSERT_TRUE(RunInThread([&] { stack.Build(); }));
  }
  void TearDown() override {
    if (!kernel().Stopped()) RunInThread([&] { stack.TearDown(); });
    KernelTest::TearDown();
  }
  std::u16string Register(const GUID& cls, PCWSTR reference) {
    UNICODE_STRING ref;
    RtlInitUnicodeString(&ref, reference);
    UNICODE_STRING link = {};
    EXPECT_EQ(IoRegisterDeviceInterface(stack.pdo, &cls, reference ? &ref : nullptr, &link),
              STATUS_SUCCESS);
    std::u16string text(link.Buffer, link.Length / sizeof(WCHAR));
    RtlFreeUnicodeString(&link);
    return text;
  }
  static NTSTATUS SetState(std::u16string link, BOOLEAN enable) {
    UNICODE_STRING name = {static_cast<USHORT>(link.size() * 2),
                           static_cast<USHORT>(link.size() * 2), link.data()};
    return IoSetDeviceInterfaceState(&name, enable);
  }
  TestStack stack;
};

TEST_F(PnpRegistryTest, InterfacesAreNamedByDeviceClassAndReference) {
  std::vector<std::pair<std::u16string, bool>> notices;
  uint64_t watch = WatchDeviceInterfaces([&](const DeviceInterfaceInfo& info, bool arrived) {
    notices.push_back({info.symbolicLink, arrived});
  });
  ASSERT_TRUE(RunInThread([&] {
    std::u16string wave =
        Register(kAudioClass, WSTR("{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_48000"));
    EXPECT_EQ(wave,
              u"\\??\\USB#VID_1234&PID_5678#0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}"
              u"\\{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_48000");
    EXPECT_EQ(Register(kAudioClass, WSTR("{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_48000")), wave);
    std::u16string plain = Register(kOtherClass, nullptr);
    EXPECT_EQ(plain, u"\\??\\USB#VID_1234&PID_5678#0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}");

    EXPECT_TRUE(EnumerateDeviceInterfaces(kAudioClass, true).empty());
    EXPECT_EQ(SetState(wave, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(SetState(wave, TRUE), STATUS_OBJECT_NAME_EXISTS);
    auto present = EnumerateDeviceInterfaces(kAudioClass, true);
    ASSERT_EQ(present.size(), 1u);
    EXPECT_EQ(present[0].devicePath, u"\\\\?\\" + wave.substr(4));
    EXPECT_EQ(present[0].device.instanceId, u"USB\\VID_1234&PID_5678\\0001");
    EXPECT_EQ(present[0].device.serviceName, u"testfunction");
    EXPECT_EQ(present[0].device.description, u"Test DAC");
    EXPECT_EQ(present[0].referenceString, u"{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}_48000");
    EXPECT_EQ(SetState(wave, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(SetState(wave, FALSE), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(EnumerateDeviceInterfaces(kAudioClass, false).size(), 1u);
    EXPECT_EQ(SetState(wave, TRUE), STATUS_SUCCESS);
  }));
  // Removing the device takes its enabled interfaces away, with a notice.
  ASSERT_TRUE(RunInThread([&] { RemoveDeviceNode(stack.pdo); }));
  CancelDeviceInterfaceWatch(watch);
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_TRUE(notices[0].second);
  EXPECT_FALSE(notices[1].second);
  EXPECT_TRUE(notices[2].second);
  EXPECT_FALSE(notices[3].second);
  EXPECT_TRUE(EnumerateDeviceInterfaces(kAudioClass, false).empty());
}

TEST_F(PnpRegistryTest, OnlyAPhysicalDeviceHasInterfacesAndAHardwareKey) {
  ASSERT_TRUE(RunInThread([&] {
    UNICODE_STRING link = {};
    EXPECT_EQ(IoRegisterDeviceInterface(stack.fdo, &kAudioClass, nullptr, &link),
              STATUS_INVALID_DEVICE_REQUEST);
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(stack.fdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_DEVICE_REQUEST);
  }));
}

TEST_F(PnpRegistryTest, HardwareKeyValuesAndSizeQueries) {
  ASSERT_TRUE(RunInThread([&] {
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(stack.pdo, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key),
              STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, WSTR("SampleRate"));
    ULONG rate = 44100;
    ASSERT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &rate, sizeof rate), STATUS_SUCCESS);

    // Partial: 12 fixed bytes and 4 of data. Full: 20 fixed, a 20-byte name, data at 40.
    // Basic: 12 fixed and the name.
    struct Case {
      KEY_VALUE_INFORMATION_CLASS kind;
      ULONG length;
      NTSTATUS status;
    };
    const Case cases[] = {
        {KeyValuePartialInformation, 0, STATUS_BUFFER_TOO_SMALL},
        {KeyValuePartialInformation, 11, STATUS_BUFFER_TOO_SMALL},
        {KeyValuePartialInformation, 12, STATUS_BUFFER_OVERFLOW},
        {KeyValuePartialInformation, 15, STATUS_BUFFER_OVERFLOW},
        {KeyValuePartialInformation, 16, STATUS_SUCCESS},
        {KeyValueFullInformation, 19, STATUS_BUFFER_TOO_SMALL},
        {KeyValueFullInformation, 20, STATUS_BUFFER_OVERFLOW},
        {KeyValueFullInformation, 44, STATUS_SUCCESS},
        {KeyValueBasicInformation, 12, STATUS_BUFFER_OVERFLOW},
        {KeyValueBasicInformation, 32, STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.kind << " " << c.length);
      alignas(8) UCHAR buffer[64];
      std::memset(buffer, 0xEE, sizeof buffer);
      ULONG result = 0;
      EXPECT_EQ(ZwQueryValueKey(key, &name, c.kind, c.length ? buffer : nullptr, c.length, &result),
                c.status);
      const ULONG needed = c.kind == KeyValuePartialInformation ? 16
                           : c.kind == KeyValueFullInformation  ? 44
                                                                : 32;
      EXPECT_EQ(result, needed);
      for (ULONG i = c.length; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
      if (c.kind == KeyValuePartialInformation && c.length >= 12) {
        auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer);
        EXPECT_EQ(info->Type, static_cast<ULONG>(REG_DWORD));
        EXPECT_EQ(info->DataLength, 4u);
        if (c.status == STATUS_SUCCESS) {
          ULONG read = 0;
          std::memcpy(&read, info->Data, 4);
          EXPECT_EQ(read, 44100u);
        }
      }
      if (c.kind == KeyValueFullInformation && c.status == STATUS_SUCCESS) {
        auto* info = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(buffer);
        EXPECT_EQ(info->NameLength, 20u);
        EXPECT_EQ(info->DataOffset, 40u);
        ULONG read = 0;
        std::memcpy(&read, buffer + info->DataOffset, 4);
        EXPECT_EQ(read, 44100u);
      }
    }

    UNICODE_STRING missing;
    RtlInitUnicodeString(&missing, WSTR("DSDNativeModeSupported"));
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &missing, KeyValuePartialInformation, nullptr, 0, &result),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwDeleteValueKey(key, &name), STATUS_SUCCESS);
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValuePartialInformation, nullptr, 0, &result),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &rate, sizeof rate), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
  }));
  // The value is where the Win32 side and the saved registry will look for it.
  host::RegistryStore& registry = host::MachineRegistry();
  host::RegistryKeyRef parameters = registry.OpenAbsolute(
      u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678\\0001\\"
      u"Device Parameters");
  ASSERT_NE(parameters, nullptr);
  host::RegistryValue value;
  ASSERT_EQ(registry.QueryValue(parameters, u"samplerate", &value), STATUS_SUCCESS);
  EXPECT_EQ(value.data, (std::vector<uint8_t>{0x44, 0xAC, 0, 0}));
}

TEST_F(PnpRegistryTest, KeysOpenByAbsoluteNameOrRelativeToAnother) {
  ASSERT_TRUE(RunInThread([&] {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, WSTR("\\Registry\\Machine\\SOFTWARE\\Velmor"));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);
    ULONG disposition = 0;
    ASSERT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_CREATED_NEW_KEY));
    UNICODE_STRING sub;
    RtlInitUnicodeString(&sub, WSTR("Tarnlink Setup"));
    OBJECT_ATTRIBUTES relative;
    InitializeObjectAttributes(&relative, &sub, OBJ_KERNEL_HANDLE, key, nullptr);
    HANDLE child = nullptr;
    ASSERT_EQ(ZwCreateKey(&child, KEY_ALL_ACCESS, &relative, 0, nullptr, 0, &disposition),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_CREATED_NEW_KEY));
    ZwClose(child);
    ASSERT_EQ(ZwCreateKey(&child, KEY_READ, &relative, 0, nullptr, 0, &disposition),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, static_cast<ULONG>(REG_OPENED_EXISTING_KEY));
    ZwClose(child);
    // A file handle is not a key.
    PVOID object = nullptr;
    EXPECT_EQ(
        ObReferenceObjectByHandle(key, KEY_READ, *IoFileObjectType, KernelMode, &object, nullptr),
        STATUS_OBJECT_TYPE_MISMATCH);
    ZwClose(key);
    InitializeObjectAttributes(&attributes, &path, 0, nullptr, nullptr);
    RtlInitUnicodeString(&path, WSTR("\\Registry\\Nowhere\\SOFTWARE"));
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);
  }));
}

}  // namespace
}  // namespace tarnlink::io::test
