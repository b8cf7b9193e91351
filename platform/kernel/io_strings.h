// Counted strings as the host side reads them. Host side.
#pragma once

#include <string_view>

#include "kernel/rtl_string.h"

namespace tarnlink::io {

// The text of a counted string; empty for a null string or buffer.
inline std::u16string_view StringView(PCUNICODE_STRING s) {
  return s == nullptr || s->Buffer == nullptr
             ? std::u16string_view{}
             : std::u16string_view(s->Buffer, s->Length / sizeof(WCHAR));
}

}  // namespace tarnlink::io
