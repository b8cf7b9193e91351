#include "wide_text.h"

namespace {

WCHAR Folded(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c; }

}  // namespace

size_t TextLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

void CopyText(WCHAR* to, const WCHAR* from, size_t units) {
  size_t n = 0;
  for (; n < units && from[n] != 0; ++n) to[n] = from[n];
  to[n] = 0;
}

bool SameText(const WCHAR* a, const WCHAR* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

bool SameTextIgnoringCase(const WCHAR* a, const WCHAR* b) {
  while (*a != 0 && Folded(*a) == Folded(*b)) ++a, ++b;
  return Folded(*a) == Folded(*b);
}

bool TextBefore(const WCHAR* a, const WCHAR* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a < *b;
}

const WCHAR* FindText(const WCHAR* text, const WCHAR* part) {
  for (; *text != 0; ++text) {
    size_t i = 0;
    while (part[i] != 0 && text[i] == part[i]) ++i;
    if (part[i] == 0) return text;
  }
  return nullptr;
}

void LowerCaseText(WCHAR* text) {
  for (; *text != 0; ++text) *text = Folded(*text);
}
