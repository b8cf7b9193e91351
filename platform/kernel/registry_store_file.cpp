#include "kernel/registry_store_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "kernel/registry_names.h"

namespace host {

namespace {

constexpr uint8_t kMagic[8] = {'T', 'L', 'R', 'E', 'G', 1, 0, 0};
// Windows refuses keys nested more than 512 levels deep.
constexpr unsigned kMaxDepth = 512;
// The smallest encodings, used to refuse counts the remaining bytes cannot possibly hold.
constexpr size_t kMinValueBytes = 12;
constexpr size_t kMinKeyBytes = 12;

}  // namespace

void RegistryFileWriter::WriteTree(const RegistryKeyNode& root) {
  bytes_.insert(bytes_.end(), std::begin(kMagic), std::end(kMagic));
  WriteKey(root);
}

void RegistryFileWriter::WriteKey(const RegistryKeyNode& key) {
  WriteName(key.name);
  WriteU32(static_cast<uint32_t>(key.values.size()));
  for (const auto& [folded, value] : key.values) {
    WriteName(value.name);
    WriteU32(value.type);
    WriteU32(static_cast<uint32_t>(value.data.size()));
    bytes_.insert(bytes_.end(), value.data.begin(), value.data.end());
  }
  WriteU32(static_cast<uint32_t>(key.subkeys.size()));
  for (const auto& [folded, child] : key.subkeys) WriteKey(*child);
}

void RegistryFileWriter::WriteU32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void RegistryFileWriter::WriteName(const std::u16string& name) {
  WriteU32(static_cast<uint32_t>(name.size()));
  for (char16_t c : name) {
    bytes_.push_back(static_cast<uint8_t>(c));
    bytes_.push_back(static_cast<uint8_t>(c >> 8));
  }
}

bool RegistryFileReader::ReadTree(const RegistryKeyRef& root) {
  if (size_ < sizeof(kMagic) || std::memcmp(data_, kMagic, sizeof(kMagic)) != 0) return false;
  pos_ = sizeof(kMagic);
  std::u16string root_name;
  if (!ReadName(&root_name, 0)) return false;
  if (!ReadKey(*root, 0)) return false;
  return pos_ == size_;
}

bool RegistryFileReader::ReadKey(RegistryKeyNode& key, unsigned depth) {
  if (depth > kMaxDepth) return false;
  uint32_t value_count = 0;
  if (!ReadU32(&value_count) || value_count > Remaining() / kMinValueBytes) return false;
  for (uint32_t i = 0; i < value_count; ++i) {
    RegistryValue value;
    uint32_t length = 0;
    if (!ReadName(&value.name, kMaxValueNameChars) || !ReadU32(&value.type) || !ReadU32(&length) ||
        length > Remaining())
      return false;
    value.data.assign(data_ + pos_, data_ + pos_ + length);
    pos_ += length;
    if (!key.values.emplace(FoldRegistryName(value.name), std::move(value)).second) return false;
  }
  uint32_t subkey_count = 0;
  if (!ReadU32(&subkey_count) || subkey_count > Remaining() / kMinKeyBytes) return false;
  for (uint32_t i = 0; i < subkey_count; ++i) {
    auto child = std::make_shared<RegistryKeyNode>();
    child->parent = &key;
    if (!ReadName(&child->name, kMaxKeyNameChars) || !IsValidKeyName(child->name)) return false;
    std::u16string folded = FoldRegistryName(child->name);
    if (key.subkeys.count(folded) != 0) return false;
    RegistryKeyNode& added = *child;
    key.subkeys.emplace(std::move(folded), std::move(child));
    if (!ReadKey(added, depth + 1)) return false;
  }
  return true;
}

bool RegistryFileReader::ReadU32(uint32_t* v) {
  if (Remaining() < 4) return false;
  *v = 0;
  for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(data_[pos_ + i]) << (8 * i);
  pos_ += 4;
  return true;
}

bool RegistryFileReader::ReadName(std::u16string* name, size_t max_chars) {
  uint32_t chars = 0;
  if (!ReadU32(&chars) || chars > max_chars || chars > Remaining() / 2) return false;
  name->resize(chars);
  for (uint32_t i = 0; i < chars; ++i, pos_ += 2)
    (*name)[i] = static_cast<char16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  return true;
}

NTSTATUS RegistryStore::SaveToFile(const std::string& path) const {
  std::vector<uint8_t> bytes = Serialize();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return STATUS_ACCESS_DENIED;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return out ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS RegistryStore::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return STATUS_OBJECT_NAME_NOT_FOUND;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  return Deserialize(bytes.data(), bytes.size());
}

}  // namespace host
