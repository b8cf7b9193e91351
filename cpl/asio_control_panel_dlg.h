// The control panel's main dialog: the device list, the buffer size and, on a device running at
// a fixed rate, the sample rate. Every choice goes to the per-user settings, which tell the
// running ASIO drivers; a fixed rate also goes straight to the device. The watchers keep the
// dialog current; its handlers run under the instance mutex the ASIO drivers share.
#pragma once

#include <memory>
#include <vector>

#include "asio_list_box.h"
#include "devices/device_list_entry.h"
#include "host_activity_watcher.h"
#include "logo.h"
#include "registry_notify.h"
#include "settings/cpl_reg_util.h"

class CAsioControlPanelDlg {
 public:
  CAsioControlPanelDlg();
  ~CAsioControlPanelDlg();
  CAsioControlPanelDlg(const CAsioControlPanelDlg&) = delete;
  CAsioControlPanelDlg& operator=(const CAsioControlPanelDlg&) = delete;

  // Runs the dialog modally until it closes.
  INT_PTR DoModal(HINSTANCE instance);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  BOOL OnInitDialog();
  void OnPaint();
  void OnDestroy();
  void OnHScroll(WORD code);
  void OnListSelectionChange();
  void OnComboSelectionChange();
  void OnDeviceChange(WPARAM event);
  void OnSettingsChanged();

  // Devices (dlg_devices.cpp).
  void RefreshDeviceList();
  void SelectEntry(size_t index);
  bool HostActive() const;
  bool CurrentIsRegistered() const { return current_ < devices_.size() && current_ == registered_; }
  // Rates (dlg_rates.cpp).
  void RefreshRateControls();
  void FillRateCombo(const DeviceListEntry& entry, bool withDsd);
  void SetRate(ULONG rate, bool fallback);
  void SelectRateItem(ULONG rate);
  void EnableRateControls(bool enable);
  // Buffer size (dlg_buffers.cpp).
  void RefreshBufferControls();
  void ShowBufferSize(ULONG index);
  void StoreBufferIndex(ULONG index);

  void FillInformation();
  HWND Item(int id) const { return GetDlgItem(window_, id); }

  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HANDLE instanceMutex_ = nullptr;
  DeviceList devices_;
  size_t current_ = 0;
  size_t registered_ = 0;
  ULONG currentRate_ = 0;
  std::vector<ULONG> comboRates_;
  ULONG bufferIndex_ = 0;
  bool rateControlsEnabled_ = false;
  CAsioListBox list_;
  CCplRegUtil settings_;
  CLogo logo_;
  std::unique_ptr<CRegistryNotify> registryWatcher_;
  HDEVNOTIFY deviceNotification_ = nullptr;
  CHostActivityWatcher hostWatcher_;
};
