// The device list: discovery, the list box, choosing the device the ASIO driver uses, and what
// a settings change from elsewhere means for the list.
#include "asio_control_panel_dlg.h"
#include "devices/discovery.h"
#include "devices/single_host_objects.h"
#include "resource.h"
#include "wide_text.h"

namespace {

// The list shows "&" as itself: the list text doubles it.
WideString ListText(const WCHAR* description) {
  WideString text;
  for (const WCHAR* c = description; *c != 0; ++c) {
    text += *c;
    if (*c == u'&') text += u'&';
  }
  return text;
}

}  // namespace

bool CAsioControlPanelDlg::HostActive() const {
  HANDLE active = OpenEventW(SYNCHRONIZE, FALSE, kActiveEventName);
  if (active == nullptr) return false;
  const bool set = WaitForSingleObject(active, 0) == WAIT_OBJECT_0;
  CloseHandle(active);
  return set;
}

void CAsioControlPanelDlg::RefreshDeviceList() {
  DiscoverDevices(&devices_);
  HWND list = list_.Window();
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const auto& entry : devices_)
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ListText(entry->description).c_str()));
  WCHAR selected[kSelectedCodeUnits + 1];
  settings_.ReadSelected(selected);
  registered_ = devices_.size();
  for (size_t i = 0; i < devices_.size(); ++i)
    if (SameText(devices_[i]->instanceId, selected)) {
      registered_ = i;
      break;
    }
  list_.SetHighlighted(-1);
  SelectEntry(registered_ < devices_.size() ? registered_ : 0);
}

void CAsioControlPanelDlg::SelectEntry(size_t index) {
  HWND list = list_.Window();
  if (index < devices_.size()) {
    current_ = index;
    SendMessageW(list, LB_SETCURSEL, index, 0);
    list_.SetHighlighted(static_cast<int>(index));
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    WideString text(static_cast<size_t>(length > 0 ? length : 0), 0);
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    SetDlgItemTextW(window_, IDC_SETTING_GROUP, text.c_str());
    // While a host streams, the device it uses stays the stored one.
    if (!HostActive() && index != registered_) {
      settings_.WriteSelected(devices_[index]->instanceId);
      registered_ = index;
    }
  } else {
    current_ = devices_.size();
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    list_.SetHighlighted(-1);
    SetDlgItemTextW(window_, IDC_SETTING_GROUP, WSTR("Setting"));
    registered_ = devices_.size();
  }
  InvalidateRect(list, nullptr, TRUE);
  RefreshRateControls();
  RefreshBufferControls();
}

void CAsioControlPanelDlg::OnListSelectionChange() {
  InstanceLock lock(instanceMutex_);
  const LRESULT selection = SendMessageW(list_.Window(), LB_GETCURSEL, 0, 0);
  if (selection == LB_ERR) return;
  SelectEntry(static_cast<size_t>(selection));
}

void CAsioControlPanelDlg::OnSettingsChanged() {
  InstanceLock lock(instanceMutex_);
  if (CurrentIsRegistered()) {
    RefreshRateControls();
    RefreshBufferControls();
  }
  if (devices_.empty()) return;
  WCHAR selected[kSelectedCodeUnits + 1];
  settings_.ReadSelected(selected);
  size_t found = devices_.size();
  for (size_t i = 0; i < devices_.size(); ++i)
    if (SameText(devices_[i]->instanceId, selected)) {
      found = i;
      break;
    }
  const size_t before = registered_;
  if (found == devices_.size() && current_ < devices_.size()) {
    // Someone stored a device that is not here: the one on screen is the one that counts.
    settings_.WriteSelected(devices_[current_]->instanceId);
    registered_ = current_;
  } else if (found < devices_.size()) {
    registered_ = found;
  }
  if (registered_ != before) InvalidateRect(list_.Window(), nullptr, TRUE);
}
