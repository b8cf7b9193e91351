#include "asio_list_box.h"

#include <vector>

CAsioListBox::~CAsioListBox() {
  if (heavy_ != nullptr) DeleteObject(heavy_);
}

HFONT CAsioListBox::HeavyFont() {
  if (heavy_ != nullptr) return heavy_;
  LOGFONTW font{};
  auto current = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
  if (current != nullptr) GetObjectW(current, sizeof font, &font);
  font.lfWeight = FW_HEAVY;
  heavy_ = CreateFontIndirectW(&font);
  return heavy_;
}

void CAsioListBox::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.itemID == static_cast<UINT>(-1)) return;
  HDC dc = item.hDC;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  RECT area = item.rcItem;
  FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const LRESULT length = SendMessageW(window_, LB_GETTEXTLEN, item.itemID, 0);
  if (length != LB_ERR) {
    std::vector<WCHAR> text(static_cast<size_t>(length) + 1, 0);
    SendMessageW(window_, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
    HGDIOBJ previous = nullptr;
    if (static_cast<int>(item.itemID) == highlighted_) previous = SelectObject(dc, HeavyFont());
    else previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT textArea = {area.left + 2, area.top, area.right - 2, area.bottom};
    DrawTextW(dc, text.data(), -1, &textArea, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    if (previous != nullptr) SelectObject(dc, previous);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(dc, &area);
}
