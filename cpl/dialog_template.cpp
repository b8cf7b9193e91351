#include "dialog_template.h"

#include <cstring>

#include "resource.h"

namespace {

// Writes the extended template format: a header, then each item DWORD-aligned.
class TemplateWriter {
 public:
  void Word(WORD value) { Append(&value, 2); }
  void Dword(DWORD value) { Append(&value, 4); }
  void Text(LPCWSTR text) {
    for (; *text != 0; ++text) Word(*text);
    Word(0);
  }
  void Ordinal(WORD value) {
    Word(0xFFFF);
    Word(value);
  }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<DWORD> Words() const {
    std::vector<DWORD> words((bytes_.size() + 3) / 4, 0);
    std::memcpy(words.data(), bytes_.data(), bytes_.size());
    return words;
  }

 private:
  void Append(const void* data, size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  std::vector<BYTE> bytes_;
};

struct Item {
  DWORD id;
  WORD classOrdinal;  // 0x80 button, 0x82 static, 0x83 list box, 0x85 combo box; 0: by name
  LPCWSTR className;
  LPCWSTR text;
  short x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

std::vector<DWORD> Build() {
  const Item items[] = {
      {IDC_DEVICE_LIST, 0x83, nullptr, WSTR(""), 6, 6, 114, 84,
       kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
           LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
       0},
      {IDC_SETTING_GROUP, 0x80, nullptr, WSTR("Setting"), 132, 6, 192, 84, kChild | BS_GROUPBOX,
       0},
      {IDC_BUFFER_SLIDER, 0, TRACKBAR_CLASSW, WSTR(""), 138, 30, 180, 15,
       kChild | WS_TABSTOP | TBS_NOTICKS | TBS_BOTH, 0},
      {IDC_BUFFER_LABEL, 0x82, nullptr, WSTR("Buffer Size:"), 162, 18, 38, 8, kChild | SS_LEFT, 0},
      {IDC_BUFFER_SIZE, 0x82, nullptr, WSTR("---- Samples"), 207, 18, 71, 8, kChild | SS_LEFT, 0},
      {IDC_RATE_LABEL, 0x82, nullptr, WSTR("Sampling Rate"), 150, 54, 46, 8,
       kChild | SS_LEFT | WS_DISABLED, 0},
      {IDC_RATE_COMBO, 0x85, nullptr, WSTR(""), 207, 52, 66, 66,
       kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_DISABLED, 0},
      {IDC_INFORMATION, 0x82, nullptr, WSTR(""), 132, 96, 192, 42, kChild | SS_LEFT | SS_SUNKEN,
       0},
      {IDC_LOGO, 0x82, nullptr, WSTR(""), 36, 96, 52, 41, WS_CHILD | SS_BLACKRECT, 0},
  };
  TemplateWriter out;
  out.Word(1);       // version
  out.Word(0xFFFF);  // extended
  out.Dword(0);      // help id
  out.Dword(WS_EX_APPWINDOW);
  out.Dword(DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  out.Word(static_cast<WORD>(sizeof items / sizeof items[0]));
  out.Word(0);
  out.Word(0);
  out.Word(334);
  out.Word(143);
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.Text(kDialogTitle);
  out.Word(8);               // points
  out.Word(FW_NORMAL);
  out.Word(0x0100);          // not italic; charset 1 (DEFAULT_CHARSET)
  out.Text(WSTR("MS Shell Dlg"));
  for (const Item& item : items) {
    out.Align();
    out.Dword(0);  // help id
    out.Dword(item.exStyle);
    out.Dword(item.style);
    out.Word(static_cast<WORD>(item.x));
    out.Word(static_cast<WORD>(item.y));
    out.Word(static_cast<WORD>(item.cx));
    out.Word(static_cast<WORD>(item.cy));
    out.Dword(item.id);
    if (item.classOrdinal != 0) out.Ordinal(item.classOrdinal);
    else out.Text(item.className);
    out.Text(item.text);
    out.Word(0);  // no creation data
  }
  return out.Words();
}

}  // namespace

const std::vector<DWORD>& MainDialogTemplate() {
  static const std::vector<DWORD> bytes = Build();
  return bytes;
}
