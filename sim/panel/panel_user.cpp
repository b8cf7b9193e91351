#include "panel_user.h"

#include "devices/single_host_objects.h"
#include "dialog_title.h"
#include "resource.h"
#include "win32/user_input.h"

namespace sim::panel {
namespace {

// The strings of a list box or combo box, by their count and text messages.
std::vector<std::u16string> Strings(HWND control, UINT countMessage, UINT textMessage) {
  std::vector<std::u16string> strings;
  const LRESULT count = SendMessageW(control, countMessage, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    WCHAR text[256];
    SendMessageW(control, textMessage, i, reinterpret_cast<LPARAM>(text));
    strings.emplace_back(text);
  }
  return strings;
}

}  // namespace

void Settle() { Sleep(200); }

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

PanelUser::PanelUser(const std::u16string& path) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // As the ASIO driver starts it: a new console, normal priority.
  if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0x30, nullptr, nullptr,
                      &startup, &process_))
    return;
  FindDialog();
}

PanelUser::PanelUser(OpenedElsewhere) {
  FindDialog();
  DWORD processId = 0;
  if (dialog_ != nullptr && GetWindowThreadProcessId(dialog_, &processId) != 0)
    process_.hProcess = OpenProcess(SYNCHRONIZE, FALSE, processId);
}

void PanelUser::FindDialog() {
  // However the panel was started, its window comes within a few settles (two seconds at most).
  for (int tries = 0; tries < 10 && dialog_ == nullptr; ++tries) {
    Settle();
    const std::vector<HWND> windows = PanelWindows();
    if (!windows.empty()) dialog_ = windows.front();
  }
}

PanelUser::~PanelUser() {
  if (dialog_ != nullptr) PostMessageW(dialog_, WM_CLOSE, 0, 0);
  if (process_.hProcess != nullptr) {
    WaitForSingleObject(process_.hProcess, INFINITE);
    CloseHandle(process_.hProcess);
  }
  if (process_.hThread != nullptr) CloseHandle(process_.hThread);
}

std::u16string PanelUser::Text(int id) const {
  WCHAR text[512];
  GetDlgItemTextW(dialog_, id, text, 512);
  return text;
}

std::vector<std::u16string> PanelUser::ListItems() const {
  return Strings(Item(IDC_DEVICE_LIST), LB_GETCOUNT, LB_GETTEXT);
}

int PanelUser::ListSelection() const {
  return static_cast<int>(SendMessageW(Item(IDC_DEVICE_LIST), LB_GETCURSEL, 0, 0));
}

std::vector<std::u16string> PanelUser::ComboItems() const {
  return Strings(Item(IDC_RATE_COMBO), CB_GETCOUNT, CB_GETLBTEXT);
}

std::u16string PanelUser::ComboSelection() const {
  const LRESULT selection = SendMessageW(Item(IDC_RATE_COMBO), CB_GETCURSEL, 0, 0);
  if (selection < 0) return u"";
  WCHAR text[64];
  SendMessageW(Item(IDC_RATE_COMBO), CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
  return text;
}

LRESULT PanelUser::SliderPosition() const {
  return SendMessageW(Item(IDC_BUFFER_SLIDER), TBM_GETPOS, 0, 0);
}

void PanelUser::ClickListItem(int index) {
  HWND list = Item(IDC_DEVICE_LIST);
  RECT item{};
  if (SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) == LB_ERR)
    return;
  const POINT centre = tarnlink::win32::ItemCentre(list);
  RECT client{};
  GetClientRect(list, &client);
  tarnlink::win32::UserClick(dialog_, {centre.x - client.right / 2 + (item.left + item.right) / 2,
                                       centre.y - client.bottom / 2 + (item.top + item.bottom) / 2});
  Settle();
}

void PanelUser::OpenComboList() {
  tarnlink::win32::UserClick(dialog_, tarnlink::win32::ItemCentre(Item(IDC_RATE_COMBO)));
  Settle();
}

void PanelUser::ChooseComboItem(int index) {
  OpenComboList();
  ClickOpenListItem(index);
}

void PanelUser::ClickOpenListItem(int index) {
  HWND combo = Item(IDC_RATE_COMBO);
  const POINT field = tarnlink::win32::ItemCentre(combo);
  RECT client{};
  GetClientRect(combo, &client);
  const LONG top = field.y - client.bottom / 2;
  const LONG itemHeight = 15;
  tarnlink::win32::UserClick(dialog_,
                             {field.x, top + client.bottom + itemHeight * index + itemHeight / 2});
  Settle();
}

void PanelUser::DragSliderTo(LRESULT position) {
  HWND slider = Item(IDC_BUFFER_SLIDER);
  RECT client{};
  GetClientRect(slider, &client);
  const POINT centre = tarnlink::win32::ItemCentre(slider);
  const LONG left = centre.x - client.right / 2;
  // The channel's usable part starts 8 pixels in and ends 8 pixels before the end.
  const LONG usable = client.right - 16;
  auto x = [&](LRESULT at) { return static_cast<LONG>(left + 8 + at * usable / 127); };
  tarnlink::win32::UserDrag(dialog_, {x(SliderPosition()), centre.y}, {x(position), centre.y});
  Settle();
}

void PanelUser::Key(WORD virtualKey, bool shift) {
  tarnlink::win32::UserKey(virtualKey, shift);
  Settle();
}

int PanelUser::FocusedItem() const {
  HWND focus = GetFocus();
  return focus != nullptr && GetParent(focus) == dialog_ ? GetDlgCtrlID(focus) : 0;
}

void PanelUser::Minimise() {
  SendMessageW(dialog_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Settle();
}

bool PanelUser::Render(const std::string& path) const {
  return tarnlink::win32::RenderWindow(dialog_, path);
}

HostPresence::HostPresence() {
  mutex_ = CreateMutexW(nullptr, FALSE, kActiveMutexName);
  WaitForSingleObject(mutex_, INFINITE);
  event_ = CreateEventW(nullptr, TRUE, FALSE, kActiveEventName);
  SetEvent(event_);
  Settle();
}

HostPresence::~HostPresence() {
  ResetEvent(event_);
  CloseHandle(event_);
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
  Settle();
}

}  // namespace sim::panel
