#include "kernel/registry_store.h"

#include "kernel/registry_names.h"
#include "kernel/registry_node.h"
#include "kernel/registry_store_file.h"

namespace host {

namespace {

RegistryKeyRef NewNode(std::u16string_view name, RegistryKeyNode* parent) {
  auto node = std::make_shared<RegistryKeyNode>();
  node->name = name;
  node->parent = parent;
  return node;
}

RegistryKeyRef FindChild(const RegistryKeyNode& node, std::u16string_view name) {
  auto it = node.subkeys.find(FoldRegistryName(name));
  return it == node.subkeys.end() ? nullptr : it->second;
}

void MarkDeleted(RegistryKeyNode& node) {
  node.deleted = true;
  node.parent = nullptr;
  for (auto& [folded, child] : node.subkeys) MarkDeleted(*child);
}

bool IsAtOrBelow(const RegistryKeyNode* node, const RegistryKeyNode* ancestor) {
  for (; node != nullptr; node = node->parent)
    if (node == ancestor) return true;
  return false;
}

const std::u16string kRegistryPrefix = u"\\Registry";

}  // namespace

RegistryStore::RegistryStore() {
  Clear();
}

RegistryStore::~RegistryStore() {
  if (root_) MarkDeleted(*root_);
}

void RegistryStore::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  if (root_) MarkDeleted(*root_);
  root_ = NewNode(u"", nullptr);
  machine_ = NewNode(u"Machine", root_.get());
  user_ = NewNode(u"User", root_.get());
  root_->subkeys[FoldRegistryName(machine_->name)] = machine_;
  root_->subkeys[FoldRegistryName(user_->name)] = user_;
  watchers_.clear();
  EnsureWellKnownKeys();
}

void RegistryStore::EnsureWellKnownKeys() {
  // HKCR is the machine's class registrations; HKCU is the one interactive user of the machine.
  RegistryKeyNode* node = machine_.get();
  for (std::u16string_view part : {u"SOFTWARE", u"Classes"}) {
    RegistryKeyRef child = FindChild(*node, part);
    if (!child) {
      child = NewNode(part, node);
      node->subkeys[FoldRegistryName(part)] = child;
    }
    node = child.get();
  }
  classes_ = node->parent->subkeys[FoldRegistryName(u"Classes")];
  current_user_ = FindChild(*user_, kCurrentUserName);
  if (!current_user_) {
    current_user_ = NewNode(kCurrentUserName, user_.get());
    user_->subkeys[FoldRegistryName(kCurrentUserName)] = current_user_;
  }
}

RegistryKeyRef RegistryStore::Root(RegistryRoot root) const {
  std::lock_guard<std::mutex> guard(lock_);
  switch (root) {
    case RegistryRoot::LocalMachine:
      return machine_;
    case RegistryRoot::CurrentUser:
      return current_user_;
    case RegistryRoot::ClassesRoot:
      return classes_;
  }
  return nullptr;
}

RegistryKeyRef RegistryStore::Open(const RegistryKeyRef& base, std::u16string_view path) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!base || base->deleted) return nullptr;
  RegistryKeyRef node = base;
  for (std::u16string_view part : SplitRegistryPath(path)) {
    node = FindChild(*node, part);
    if (!node) return nullptr;
  }
  return node;
}

RegistryKeyRef RegistryStore::OpenAbsolute(std::u16string_view path) const {
  if (path.size() < kRegistryPrefix.size() ||
      FoldRegistryName(path.substr(0, kRegistryPrefix.size())) != FoldRegistryName(kRegistryPrefix))
    return nullptr;
  std::u16string_view rest = path.substr(kRegistryPrefix.size());
  if (!rest.empty() && rest.front() != u'\\') return nullptr;
  RegistryKeyRef root;
  {
    std::lock_guard<std::mutex> guard(lock_);
    root = root_;
  }
  return Open(root, rest);
}

NTSTATUS RegistryStore::Create(const RegistryKeyRef& base, std::u16string_view path,
                               RegistryKeyRef* key, bool* created) {
  std::vector<std::u16string_view> parts = SplitRegistryPath(path);
  for (std::u16string_view part : parts)
    if (!IsValidKeyName(part)) return STATUS_OBJECT_NAME_INVALID;
  std::vector<std::function<void()>> fire;
  bool made = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!base) return STATUS_INVALID_PARAMETER;
    if (base->deleted) return STATUS_KEY_DELETED;
    RegistryKeyRef node = base;
    for (std::u16string_view part : parts) {
      RegistryKeyRef child = FindChild(*node, part);
      if (!child) {
        child = NewNode(part, node.get());
        node->subkeys[FoldRegistryName(part)] = child;
        Notify(node.get(), REG_NOTIFY_CHANGE_NAME, false, &fire);
        made = true;
      }
      node = child;
    }
    if (key) *key = node;
  }
  if (created) *created = made;
  Run(fire);
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::DeleteKey(const RegistryKeyRef& key) {
  std::vector<std::function<void()>> fire;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!key) return STATUS_INVALID_PARAMETER;
    if (key->deleted) return STATUS_KEY_DELETED;
    if (key->parent == nullptr || key->parent == root_.get() || key == classes_ ||
        key == current_user_ || !key->subkeys.empty())
      return STATUS_CANNOT_DELETE;
    // Watchers of the key itself learn of its end whatever they filter on; the parent's
    // watchers see a name change.
    Notify(key.get(), REG_LEGAL_CHANGE_FILTER, /*only_this_key=*/true, &fire);
    RegistryKeyNode* owner = key->parent;
    owner->subkeys.erase(FoldRegistryName(key->name));
    MarkDeleted(*key);
    Notify(owner, REG_NOTIFY_CHANGE_NAME, false, &fire);
  }
  Run(fire);
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::SetValue(const RegistryKeyRef& key, std::u16string_view name, ULONG type,
                                 const void* data, size_t size) {
  if (!IsValidValueName(name)) return STATUS_INVALID_PARAMETER;
  if (size != 0 && data == nullptr) return STATUS_INVALID_PARAMETER;
  std::vector<std::function<void()>> fire;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!key) return STATUS_INVALID_PARAMETER;
    if (key->deleted) return STATUS_KEY_DELETED;
    RegistryValue& value = key->values[FoldRegistryName(name)];
    if (value.name.empty()) value.name = name;
    value.type = type;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    value.data.assign(bytes, bytes + size);
    Notify(key.get(), REG_NOTIFY_CHANGE_LAST_SET, false, &fire);
  }
  Run(fire);
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::QueryValue(const RegistryKeyRef& key, std::u16string_view name,
                                   RegistryValue* value) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!key) return STATUS_INVALID_PARAMETER;
  if (key->deleted) return STATUS_KEY_DELETED;
  auto it = key->values.find(FoldRegistryName(name));
  if (it == key->values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  if (value) *value = it->second;
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::DeleteValue(const RegistryKeyRef& key, std::u16string_view name) {
  std::vector<std::function<void()>> fire;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!key) return STATUS_INVALID_PARAMETER;
    if (key->deleted) return STATUS_KEY_DELETED;
    if (key->values.erase(FoldRegistryName(name)) == 0) return STATUS_OBJECT_NAME_NOT_FOUND;
    Notify(key.get(), REG_NOTIFY_CHANGE_LAST_SET, false, &fire);
  }
  Run(fire);
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::EnumerateValue(const RegistryKeyRef& key, size_t index,
                                       RegistryValue* value) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!key) return STATUS_INVALID_PARAMETER;
  if (key->deleted) return STATUS_KEY_DELETED;
  if (index >= key->values.size()) return STATUS_NO_MORE_ENTRIES;
  auto it = key->values.begin();
  std::advance(it, index);
  if (value) *value = it->second;
  return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::EnumerateSubkey(const RegistryKeyRef& key, size_t index,
                                        std::u16string* name) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!key) return STATUS_INVALID_PARAMETER;
  if (key->deleted) return STATUS_KEY_DELETED;
  if (index >= key->subkeys.size()) return STATUS_NO_MORE_ENTRIES;
  auto it = key->subkeys.begin();
  std::advance(it, index);
  if (name) *name = it->second->name;
  return STATUS_SUCCESS;
}

bool RegistryStore::IsDeleted(const RegistryKeyRef& key) const {
  std::lock_guard<std::mutex> guard(lock_);
  return !key || key->deleted;
}

std::u16string RegistryStore::AbsolutePath(const RegistryKeyRef& key) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::u16string path;
  for (const RegistryKeyNode* node = key.get(); node && node->parent; node = node->parent)
    path.insert(0, u"\\" + node->name);
  return kRegistryPrefix + path;
}

RegistryStore::WatchId RegistryStore::Watch(const RegistryKeyRef& key, bool subtree, ULONG filter,
                                            std::function<void()> callback) {
  std::lock_guard<std::mutex> guard(lock_);
  WatchId id = next_watch_++;
  watchers_.push_back(Watcher{id, key, subtree, filter, std::move(callback)});
  return id;
}

void RegistryStore::CancelWatch(WatchId id) {
  std::lock_guard<std::mutex> guard(lock_);
  std::erase_if(watchers_, [id](const Watcher& w) { return w.id == id; });
}

void RegistryStore::Notify(const RegistryKeyNode* node, ULONG change, bool only_this_key,
                           std::vector<std::function<void()>>* fire) {
  std::erase_if(watchers_, [&](Watcher& w) {
    RegistryKeyRef watched = w.key.lock();
    if (!watched) return true;
    if ((w.filter & change) == 0) return false;
    bool hit =
        watched.get() == node || (!only_this_key && w.subtree && IsAtOrBelow(node, watched.get()));
    if (hit) fire->push_back(std::move(w.callback));
    return hit;
  });
}

void RegistryStore::Run(std::vector<std::function<void()>>& fire) {
  for (auto& callback : fire)
    if (callback) callback();
}

std::vector<uint8_t> RegistryStore::Serialize() const {
  std::lock_guard<std::mutex> guard(lock_);
  RegistryFileWriter writer;
  writer.WriteTree(*root_);
  return writer.Take();
}

NTSTATUS RegistryStore::Deserialize(const uint8_t* data, size_t size) {
  RegistryKeyRef loaded = NewNode(u"", nullptr);
  if (!RegistryFileReader(data, size).ReadTree(loaded)) return STATUS_REGISTRY_CORRUPT;
  std::lock_guard<std::mutex> guard(lock_);
  if (root_) MarkDeleted(*root_);
  root_ = loaded;
  machine_ = FindChild(*root_, u"Machine");
  if (!machine_) {
    machine_ = NewNode(u"Machine", root_.get());
    root_->subkeys[FoldRegistryName(u"Machine")] = machine_;
  }
  user_ = FindChild(*root_, u"User");
  if (!user_) {
    user_ = NewNode(u"User", root_.get());
    root_->subkeys[FoldRegistryName(u"User")] = user_;
  }
  watchers_.clear();
  EnsureWellKnownKeys();
  return STATUS_SUCCESS;
}

RegistryStore& MachineRegistry() {
  static RegistryStore store;
  return store;
}

}  // namespace host
