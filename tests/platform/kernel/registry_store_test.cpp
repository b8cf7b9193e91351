#include "kernel/registry_store.h"

#include <gtest/gtest.h>

namespace host {
namespace {

class RegistryStoreTest : public testing::Test {
 protected:
  RegistryKeyRef CreateKey(std::u16string_view path) {
    RegistryKeyRef key;
    EXPECT_EQ(store.Create(store.Root(RegistryRoot::LocalMachine), path, &key, nullptr),
              STATUS_SUCCESS);
    return key;
  }
  void SetDword(const RegistryKeyRef& key, std::u16string_view name, ULONG v) {
    ASSERT_EQ(store.SetValue(key, name, REG_DWORD, &v, sizeof v), STATUS_SUCCESS);
  }
  RegistryStore store;
};

TEST_F(RegistryStoreTest, NamesIgnoreLetterCaseButKeepTheirSpelling) {
  RegistryKeyRef key = CreateKey(u"SYSTEM\\CurrentControlSet\\Enum\\USB");
  bool created = true;
  RegistryKeyRef again;
  ASSERT_EQ(store.Create(store.Root(RegistryRoot::LocalMachine), u"system\\currentcontrolset",
                         &again, &created),
            STATUS_SUCCESS);
  EXPECT_FALSE(created);
  EXPECT_EQ(store.Open(again, u"ENUM\\usb"), key);
  EXPECT_EQ(store.OpenAbsolute(u"\\REGISTRY\\machine\\System\\CurrentControlSet\\Enum\\Usb"), key);
  EXPECT_EQ(store.AbsolutePath(key), u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\USB");
  EXPECT_EQ(store.Open(store.Root(RegistryRoot::LocalMachine), u"SYSTEM\\Missing"), nullptr);

  SetDword(key, u"SampleRate", 44100);
  RegistryValue value;
  ASSERT_EQ(store.QueryValue(key, u"SAMPLERATE", &value), STATUS_SUCCESS);
  EXPECT_EQ(value.name, u"SampleRate");
  EXPECT_EQ(value.type, static_cast<ULONG>(REG_DWORD));
  EXPECT_EQ(value.data, (std::vector<uint8_t>{0x44, 0xAC, 0, 0}));
  EXPECT_EQ(store.DeleteValue(key, u"samplerate"), STATUS_SUCCESS);
  EXPECT_EQ(store.QueryValue(key, u"SampleRate", &value), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(RegistryStoreTest, RootsAreSeparateAndClassesLiveUnderTheMachine) {
  RegistryKeyRef user_key;
  ASSERT_EQ(store.Create(store.Root(RegistryRoot::CurrentUser), u"SOFTWARE\\Velmor\\Tarnlink",
                         &user_key, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(store.Open(store.Root(RegistryRoot::LocalMachine), u"SOFTWARE\\Velmor"), nullptr);
  RegistryKeyRef clsid;
  ASSERT_EQ(store.Create(store.Root(RegistryRoot::ClassesRoot), u"CLSID", &clsid, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(store.Open(store.Root(RegistryRoot::LocalMachine), u"SOFTWARE\\Classes\\CLSID"), clsid);
}

TEST_F(RegistryStoreTest, DeletedKeyRefusesWorkAndOnlyLeavesGo) {
  RegistryKeyRef parent = CreateKey(u"SOFTWARE\\Parent");
  RegistryKeyRef child = CreateKey(u"SOFTWARE\\Parent\\Child");
  EXPECT_EQ(store.DeleteKey(parent), STATUS_CANNOT_DELETE);
  EXPECT_EQ(store.DeleteKey(store.Root(RegistryRoot::LocalMachine)), STATUS_CANNOT_DELETE);
  EXPECT_EQ(store.DeleteKey(child), STATUS_SUCCESS);
  EXPECT_TRUE(store.IsDeleted(child));
  ULONG v = 1;
  EXPECT_EQ(store.SetValue(child, u"x", REG_DWORD, &v, sizeof v), STATUS_KEY_DELETED);
  EXPECT_EQ(store.Create(child, u"Grandchild", nullptr, nullptr), STATUS_KEY_DELETED);
  EXPECT_EQ(store.Open(parent, u"Child"), nullptr);
  EXPECT_EQ(store.DeleteKey(parent), STATUS_SUCCESS);
}

TEST_F(RegistryStoreTest, InvalidNamesAreRefused) {
  RegistryKeyRef base = store.Root(RegistryRoot::LocalMachine);
  EXPECT_EQ(store.Create(base, std::u16string(256, u'k'), nullptr, nullptr),
            STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(store.Create(base, std::u16string(255, u'k'), nullptr, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(store.Create(base, std::u16string(u"a\0b", 3), nullptr, nullptr),
            STATUS_OBJECT_NAME_INVALID);
}

TEST_F(RegistryStoreTest, WatchesFireOnceForMatchingChanges) {
  RegistryKeyRef key = CreateKey(u"SOFTWARE\\Watched");
  RegistryKeyRef below = CreateKey(u"SOFTWARE\\Watched\\Below");
  int value_changes = 0, subtree_changes = 0, name_changes = 0, other_key = 0;
  store.Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++value_changes; });
  store.Watch(key, true, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++subtree_changes; });
  store.Watch(key, false, REG_NOTIFY_CHANGE_NAME, [&] { ++name_changes; });
  store.Watch(CreateKey(u"SOFTWARE\\Elsewhere"), true, REG_LEGAL_CHANGE_FILTER,
              [&] { ++other_key; });

  SetDword(below, u"deep", 1);  // only the subtree watcher sees a change below the key
  EXPECT_EQ(value_changes, 0);
  EXPECT_EQ(subtree_changes, 1);
  SetDword(key, u"flat", 1);
  SetDword(key, u"flat", 2);  // one-shot: the second change finds nobody armed
  EXPECT_EQ(value_changes, 1);
  EXPECT_EQ(subtree_changes, 1);
  EXPECT_EQ(name_changes, 0);
  CreateKey(u"SOFTWARE\\Watched\\New");
  EXPECT_EQ(name_changes, 1);
  EXPECT_EQ(other_key, 0);
}

TEST_F(RegistryStoreTest, WatchCanBeCancelledAndCallbackMayUseTheStore) {
  RegistryKeyRef key = CreateKey(u"SOFTWARE\\Watched");
  int fired = 0;
  auto id = store.Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++fired; });
  store.CancelWatch(id);
  SetDword(key, u"a", 1);
  EXPECT_EQ(fired, 0);
  // A watcher re-arming itself from its callback, as RegNotifyChangeKeyValue loops do.
  std::function<void()> rearm = [&] {
    ++fired;
    RegistryValue value;
    EXPECT_EQ(store.QueryValue(key, u"a", &value), STATUS_SUCCESS);
    store.Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET, rearm);
  };
  store.Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET, rearm);
  SetDword(key, u"a", 2);
  SetDword(key, u"a", 3);
  EXPECT_EQ(fired, 2);
}

TEST_F(RegistryStoreTest, DeletingAWatchedKeyFiresItsWatch) {
  RegistryKeyRef key = CreateKey(u"SOFTWARE\\Doomed");
  int fired = 0;
  store.Watch(key, false, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++fired; });
  ASSERT_EQ(store.DeleteKey(key), STATUS_SUCCESS);
  EXPECT_EQ(fired, 1);
}

TEST_F(RegistryStoreTest, SavedStoreLoadsBackIdentically) {
  RegistryKeyRef key = CreateKey(u"SYSTEM\\Device Parameters");
  SetDword(key, u"SampleRate", 96000);
  const std::u16string text = u"Velmor DAC";
  ASSERT_EQ(store.SetValue(key, u"", REG_SZ, text.c_str(), (text.size() + 1) * 2), STATUS_SUCCESS);
  std::vector<uint8_t> bytes = store.Serialize();

  RegistryStore loaded;
  ASSERT_EQ(loaded.Deserialize(bytes.data(), bytes.size()), STATUS_SUCCESS);
  EXPECT_EQ(loaded.Serialize(), bytes);
  RegistryKeyRef copy =
      loaded.Open(loaded.Root(RegistryRoot::LocalMachine), u"system\\device parameters");
  ASSERT_NE(copy, nullptr);
  RegistryValue value;
  ASSERT_EQ(loaded.QueryValue(copy, u"", &value), STATUS_SUCCESS);
  EXPECT_EQ(value.type, static_cast<ULONG>(REG_SZ));
  EXPECT_EQ(value.data.size(), (text.size() + 1) * 2);
  EXPECT_NE(loaded.Root(RegistryRoot::CurrentUser), nullptr);
}

TEST_F(RegistryStoreTest, DamagedFilesAreRefusedAndChangeNothing) {
  SetDword(CreateKey(u"SOFTWARE\\Velmor"), u"BufferSize", 7);
  const std::vector<uint8_t> good = store.Serialize();
  RegistryStore target;
  SetDword(target.Root(RegistryRoot::LocalMachine), u"Kept", 1);
  const std::vector<uint8_t> before = target.Serialize();

  // Every truncation, one byte too many, and every single byte set to 0xFF.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_EQ(target.Deserialize(good.data(), n), STATUS_REGISTRY_CORRUPT) << n;
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_EQ(target.Deserialize(longer.data(), longer.size()), STATUS_REGISTRY_CORRUPT);
  for (size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> bad = good;
    bad[i] = 0xFF;
    NTSTATUS status = target.Deserialize(bad.data(), bad.size());
    if (status == STATUS_SUCCESS) {  // a byte of name text or value data: still a valid file
      ASSERT_EQ(target.Deserialize(before.data(), before.size()), STATUS_SUCCESS);
      continue;
    }
    EXPECT_EQ(status, STATUS_REGISTRY_CORRUPT) << i;
  }
  EXPECT_EQ(target.Serialize(), before);
}

TEST_F(RegistryStoreTest, DuplicateNamesInAFileAreRefused) {
  RegistryKeyRef key = CreateKey(u"SOFTWARE\\Ab");
  CreateKey(u"SOFTWARE\\Cd");
  std::vector<uint8_t> bytes = store.Serialize();
  // Rename "Cd" to "aB": the same key name as its sibling under a case-insensitive compare.
  const uint8_t cd[] = {'C', 0, 'd', 0};
  auto at = std::search(bytes.begin(), bytes.end(), std::begin(cd), std::end(cd));
  ASSERT_NE(at, bytes.end());
  at[0] = 'a';
  at[2] = 'B';
  RegistryStore target;
  EXPECT_EQ(target.Deserialize(bytes.data(), bytes.size()), STATUS_REGISTRY_CORRUPT);
}

}  // namespace
}  // namespace host
