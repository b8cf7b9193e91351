#include "kernel/registry_names.h"

namespace host {

std::u16string FoldRegistryName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
  }
  return folded;
}

std::vector<std::u16string_view> SplitRegistryPath(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsValidKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameChars) return false;
  for (char16_t c : name)
    if (c == u'\\' || c == 0) return false;
  return true;
}

bool IsValidValueName(std::u16string_view name) {
  return name.size() <= kMaxValueNameChars;
}

}  // namespace host
