// The sample-rate controls: on a device in fixed-rate mode the user picks the rate the device
// runs at; the combo lists the device's PCM rates and, while a DSD rate is stored for a native
// DSD device, the DSD rates (shown, not chosen: the host sets DSD).
#include <algorithm>

#include "asio_control_panel_dlg.h"
#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/private_queries.h"
#include "devices/single_host_objects.h"
#include "rate_names.h"
#include "resource.h"

void CAsioControlPanelDlg::EnableRateControls(bool enable) {
  rateControlsEnabled_ = enable;
  EnableWindow(Item(IDC_RATE_COMBO), enable);
  EnableWindow(Item(IDC_RATE_LABEL), enable);
}

void CAsioControlPanelDlg::FillRateCombo(const DeviceListEntry& entry, bool withDsd) {
  HWND combo = Item(IDC_RATE_COMBO);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  comboRates_.clear();
  bool from = false;
  for (const RateName& name : kPcmRateNames) {
    if (name.rate == entry.rateRange.lowestRate) from = true;
    if (!from) continue;
    if (name.rate > entry.rateRange.highestRate) break;
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.name));
    comboRates_.push_back(name.rate);
  }
  if (withDsd)
    for (const RateName& name : kDsdRateNames) {
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.name));
      comboRates_.push_back(name.rate);
    }
}

void CAsioControlPanelDlg::RefreshRateControls() {
  if (current_ >= devices_.size()) {
    SendMessageW(Item(IDC_RATE_COMBO), CB_RESETCONTENT, 0, 0);
    comboRates_.clear();
    EnableRateControls(false);
    return;
  }
  const DeviceListEntry& entry = *devices_[current_];
  const ULONG stored = settings_.ReadNumber(kSettingSamplingRate);
  ULONG fixed = 0;
  if (!QueryFixed(entry.privatePath, IOCTL_ASIO_GET_FIXED_RATE, &fixed, sizeof fixed)) {
    AsioTrace(kTraceCplDeviceQueryFailed, IOCTL_ASIO_GET_FIXED_RATE, GetLastError());
    fixed = 0;
  }
  ULONG rate = stored;
  bool enabled = false;
  bool push = false;
  if (fixed != 0) {
    rate = fixed;
    enabled = true;
    if (CurrentIsRegistered()) {
      rate = stored;
      if (IsNamedDsdRate(stored)) enabled = false;
      else push = fixed != stored;
    }
  }
  currentRate_ = rate;
  FillRateCombo(entry, entry.dsdNative != 0 && !enabled);
  HWND combo = Item(IDC_RATE_COMBO);
  const auto item = std::find(comboRates_.begin(), comboRates_.end(), rate);
  if (item != comboRates_.end()) {
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(item - comboRates_.begin()), 0);
    // The stored rate is the one in force: the device follows it.
    if (push) SetRate(stored, true);
  } else if (!comboRates_.empty()) {
    SetRate(comboRates_.front(), false);
  }
  EnableRateControls(enabled && comboRates_.size() >= 2);
}

void CAsioControlPanelDlg::SelectRateItem(ULONG rate) {
  const auto item = std::find(comboRates_.begin(), comboRates_.end(), rate);
  if (item != comboRates_.end()) {
    SendMessageW(Item(IDC_RATE_COMBO), CB_SETCURSEL,
                 static_cast<WPARAM>(item - comboRates_.begin()), 0);
  } else if (!comboRates_.empty()) {
    SetRate(comboRates_.front(), false);
  }
}

void CAsioControlPanelDlg::SetRate(ULONG rate, bool fallback) {
  if (current_ >= devices_.size()) return;
  const DeviceListEntry& entry = *devices_[current_];
  if (CurrentIsRegistered() && settings_.ReadNumber(kSettingSamplingRate) != rate)
    settings_.WriteNumber(kSettingSamplingRate, rate);
  DWORD returned = 0;
  DWORD error = 0;
  if (!QueryDevice(entry.privatePath, IOCTL_ASIO_SET_RATE, &rate, sizeof rate, nullptr, 0,
                   &returned, &error)) {
    AsioTrace(kTraceCplSetRateFailed, rate, error);
    if (fallback) {
      ULONG fixed = 0;
      if (!QueryFixed(entry.privatePath, IOCTL_ASIO_GET_FIXED_RATE, &fixed, sizeof fixed))
        fixed = 0;
      rate = fixed != 0 ? fixed : currentRate_;
      if (CurrentIsRegistered()) settings_.WriteNumber(kSettingSamplingRate, rate);
    }
  }
  currentRate_ = rate;
  // The label follows the rate now in force.
  if (CurrentIsRegistered()) RefreshBufferControls();
  SelectRateItem(rate);
}

void CAsioControlPanelDlg::OnComboSelectionChange() {
  InstanceLock lock(instanceMutex_);
  const LRESULT selection = SendMessageW(Item(IDC_RATE_COMBO), CB_GETCURSEL, 0, 0);
  if (selection >= 0 && static_cast<size_t>(selection) < comboRates_.size())
    SetRate(comboRates_[static_cast<size_t>(selection)], true);
  // Clicks and keys that queued up while the device switched would act on a stale state.
  MSG discarded;
  while (PeekMessageW(&discarded, window_, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&discarded, window_, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  EnableRateControls(rateControlsEnabled_);
}
