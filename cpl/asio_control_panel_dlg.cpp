#include "asio_control_panel_dlg.h"

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "cpl_messages.h"
#include "devices/discovery.h"
#include "devices/single_host_objects.h"
#include "dialog_title.h"
#include "information_text.h"
#include "resource.h"
#include "version.h"

CAsioControlPanelDlg::CAsioControlPanelDlg() = default;

CAsioControlPanelDlg::~CAsioControlPanelDlg() {
  hostWatcher_.Stop();
  registryWatcher_.reset();
  if (icon_ != nullptr) DestroyIcon(icon_);
}

INT_PTR CAsioControlPanelDlg::DoModal(HINSTANCE instance) {
  instance_ = instance;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TARNLINK_CPL_DIALOG), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CAsioControlPanelDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    reinterpret_cast<CAsioControlPanelDlg*>(lParam)->window_ = window;
  }
  auto* self = reinterpret_cast<CAsioControlPanelDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CAsioControlPanelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_PAINT:
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_MEASUREITEM:
      return FALSE;  // the font's line suits the list
    case WM_DRAWITEM:
      if (wParam != IDC_DEVICE_LIST) return FALSE;
      list_.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Item(IDC_BUFFER_SLIDER)) OnHScroll(LOWORD(wParam));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_DEVICE_LIST && HIWORD(wParam) == LBN_SELCHANGE) {
        OnListSelectionChange();
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_RATE_COMBO && HIWORD(wParam) == CBN_SELCHANGE) {
        OnComboSelectionChange();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
        EndDialog(window_, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_DEVICECHANGE:
      OnDeviceChange(wParam);
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_APP:
      if (wParam == kAppDevicesChanged) {
        InstanceLock lock(instanceMutex_);
        RefreshDeviceList();
      } else if (wParam == kAppSettingsChanged) {
        OnSettingsChanged();
      }
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;  // WM_SYSCOMMAND and the rest: default handling
  }
}

BOOL CAsioControlPanelDlg::OnInitDialog() {
  icon_ = LoadIconW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetWindowTextW(window_, kDialogTitle);
  list_.Attach(Item(IDC_DEVICE_LIST));
  logo_.Load(instance_, IDB_LOGO);
  instanceMutex_ = CreateInstanceMutex();
  if (instanceMutex_ == nullptr) {
    AsioTrace(kTraceCplStartFailed, 1, GetLastError());
    hostWatcher_.Stop();
    EndDialog(window_, IDCANCEL);
    return TRUE;
  }
  FillInformation();
  SendMessageW(Item(IDC_BUFFER_SLIDER), TBM_SETRANGE, TRUE, MAKELONG(0, 127));
  {
    InstanceLock lock(instanceMutex_);
    RefreshDeviceList();
  }
  registryWatcher_ = std::make_unique<CRegistryNotify>(window_);
  if (const DWORD error = registryWatcher_->Start(); error != ERROR_SUCCESS)
    AsioTrace(kTraceCplWatcherFailed, 5, error);
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kAudioInterfaceClass;
  deviceNotification_ =
      RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (deviceNotification_ == nullptr) AsioTrace(kTraceCplWatcherFailed, 6, GetLastError());
  hostWatcher_.Start(instanceMutex_);
  return TRUE;
}

void CAsioControlPanelDlg::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  RECT client;
  GetClientRect(window_, &client);
  if (IsIconic(window_)) {
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
  } else {
    // The logo sits centred where its hidden place holder is.
    RECT place = {36, 96, 36 + 52, 96 + 41};
    MapDialogRect(window_, &place);
    logo_.Draw(dc, place);
  }
  EndPaint(window_, &paint);
}

void CAsioControlPanelDlg::OnDestroy() {
  hostWatcher_.Stop();
  if (deviceNotification_ != nullptr) UnregisterDeviceNotification(deviceNotification_);
  deviceNotification_ = nullptr;
  registryWatcher_.reset();
  if (instanceMutex_ != nullptr) CloseHandle(instanceMutex_);
  instanceMutex_ = nullptr;
}

void CAsioControlPanelDlg::OnDeviceChange(WPARAM event) {
  if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE)
    PostMessageW(window_, WM_APP, kAppDevicesChanged, 0);
}

void CAsioControlPanelDlg::FillInformation() {
  const WideString text = InformationText(TARNLINK_CPL_VERSION_TEXT, __DATE__);
  SetDlgItemTextW(window_, IDC_INFORMATION, text.c_str());
}
