#include "panel_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cpl_program.h"
#include "dialog_template.h"
#include "resource.h"
#include "settings/reg_util.h"
#include "win32/user_input.h"

namespace cpl_test {

void Settle() { Sleep(200); }

void StoreSettings(const std::u16string& selected, DWORD rate, DWORD bufferIndex) {
  CmnRegUtil settings;
  settings.CreateDefaults();
  settings.WriteSelected(selected.c_str());
  settings.WriteNumber(kSettingSamplingRate, rate);
  settings.WriteNumber(kSettingBufferSizeIndex, bufferIndex);
}

DWORD StoredNumber(int id) { return CmnRegUtil().ReadNumber(id); }

std::u16string StoredSelected() {
  WCHAR text[kSelectedCodeUnits + 1];
  CmnRegUtil().ReadSelected(text);
  return text;
}

std::vector<HWND> PanelWindows() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        WCHAR title[64];
        GetWindowTextW(window, title, 64);
        if (std::u16string(title) == kDialogTitle)
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

Panel::Panel() {
  RegisterControlPanelProgram(kPanelPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  EXPECT_TRUE(CreateProcessW(kPanelPath, nullptr, nullptr, nullptr, FALSE, 0x30, nullptr, nullptr,
                             &startup, &process_));
  Settle();
  const std::vector<HWND> windows = PanelWindows();
  EXPECT_EQ(windows.size(), 1u);
  if (!windows.empty()) dialog_ = windows.front();
}

Panel::~Panel() {
  if (dialog_ != nullptr) PostMessageW(dialog_, WM_CLOSE, 0, 0);
  if (process_.hProcess != nullptr) {
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
}

std::u16string Panel::Text(int id) const {
  WCHAR text[512];
  GetDlgItemTextW(dialog_, id, text, 512);
  return text;
}

std::vector<std::u16string> Panel::ListItems() const {
  std::vector<std::u16string> items;
  const LRESULT count = SendMessageW(Item(IDC_DEVICE_LIST), LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    WCHAR text[256];
    SendMessageW(Item(IDC_DEVICE_LIST), LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

int Panel::ListSelection() const {
  return static_cast<int>(SendMessageW(Item(IDC_DEVICE_LIST), LB_GETCURSEL, 0, 0));
}

std::vector<std::u16string> Panel::ComboItems() const {
  std::vector<std::u16string> items;
  const LRESULT count = SendMessageW(Item(IDC_RATE_COMBO), CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    WCHAR text[64];
    SendMessageW(Item(IDC_RATE_COMBO), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

std::u16string Panel::ComboSelection() const {
  const LRESULT selection = SendMessageW(Item(IDC_RATE_COMBO), CB_GETCURSEL, 0, 0);
  if (selection < 0) return u"";
  WCHAR text[64];
  SendMessageW(Item(IDC_RATE_COMBO), CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
  return text;
}

LRESULT Panel::SliderPosition() const {
  return SendMessageW(Item(IDC_BUFFER_SLIDER), TBM_GETPOS, 0, 0);
}

void Panel::ClickListItem(int index) {
  RECT item{};
  ASSERT_NE(SendMessageW(Item(IDC_DEVICE_LIST), LB_GETITEMRECT, index,
                         reinterpret_cast<LPARAM>(&item)),
            LB_ERR);
  const POINT list = tarnlink::win32::ItemCentre(Item(IDC_DEVICE_LIST));
  RECT client{};
  GetClientRect(Item(IDC_DEVICE_LIST), &client);
  const POINT at = {list.x - client.right / 2 + (item.left + item.right) / 2,
                    list.y - client.bottom / 2 + (item.top + item.bottom) / 2};
  tarnlink::win32::UserClick(dialog_, at);
  Settle();
}

void Panel::ChooseComboItem(int index) {
  // Open the list with a click on the field, then click the item in the open list.
  const POINT field = tarnlink::win32::ItemCentre(Item(IDC_RATE_COMBO));
  tarnlink::win32::UserClick(dialog_, field);
  Settle();
  RECT client{};
  GetClientRect(Item(IDC_RATE_COMBO), &client);
  const POINT top = {field.x, field.y - client.bottom / 2};
  tarnlink::win32::UserClick(dialog_, {top.x, top.y + client.bottom + 15 * index + 7});
  Settle();
}

void Panel::DragSliderTo(LRESULT position) {
  HWND slider = Item(IDC_BUFFER_SLIDER);
  RECT client{};
  GetClientRect(slider, &client);
  const POINT centre = tarnlink::win32::ItemCentre(slider);
  const LONG left = centre.x - client.right / 2;
  const LONG usable = client.right - 16;  // the channel runs from 8 pixels in to 8 from the end
  auto x = [&](LRESULT at) { return static_cast<LONG>(left + 8 + at * usable / 127); };
  tarnlink::win32::UserDrag(dialog_, {x(SliderPosition()), centre.y}, {x(position), centre.y});
  Settle();
}

void Panel::Key(WORD virtualKey) {
  tarnlink::win32::UserKey(virtualKey);
  Settle();
}

void Panel::Render(const std::string& name) const {
  const std::filesystem::path folder = "panel-artefacts";
  std::filesystem::create_directories(folder);
  EXPECT_TRUE(tarnlink::win32::RenderWindow(dialog_, (folder / (name + ".png")).string()));
}

}  // namespace cpl_test
