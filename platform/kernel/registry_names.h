// Key and value names: comparison without regard to letter case, path splitting, limits.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// The user whose hive HKEY_CURRENT_USER is (the machine has exactly one).
inline constexpr std::u16string_view kCurrentUserName = u"S-1-5-21-1000";

inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;

// Upper-cases the letters Windows folds for registry names (ASCII and Latin-1).
std::u16string FoldRegistryName(std::u16string_view name);
// Splits at '\'; leading, trailing and doubled separators give no component.
std::vector<std::u16string_view> SplitRegistryPath(std::u16string_view path);
bool IsValidKeyName(std::u16string_view name);
bool IsValidValueName(std::u16string_view name);

}  // namespace host
