#include "asio_control_panel_app.h"

#include "asio_control_panel_dlg.h"
#include "asio_trace.h"
#include "asio_trace_points.h"
#include "dialog_title.h"
#include "wide_text.h"

namespace {

// The file name part of a path.
const WCHAR* FileNamePart(const WCHAR* path) {
  const WCHAR* name = path;
  for (const WCHAR* c = path; *c != 0; ++c)
    if (*c == u'\\' || *c == u'/') name = c + 1;
  return name;
}

struct Search {
  const WCHAR* image;  // this program's file name
  HWND found;
};

BOOL CALLBACK FindFirstInstance(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  WCHAR title[256];
  if (GetWindowTextW(window, title, 256) == 0 || !SameText(title, kDialogTitle)) return TRUE;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return TRUE;
  WCHAR path[MAX_PATH + 1];
  DWORD size = MAX_PATH + 1;
  const bool named = QueryFullProcessImageNameW(process, 0, path, &size) &&
                     SameText(FileNamePart(path), search->image);
  CloseHandle(process);
  if (!named) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

void CAsioControlPanelApp::BringFirstForward() {
  WCHAR path[MAX_PATH + 1];
  if (GetModuleFileNameW(nullptr, path, MAX_PATH + 1) == 0) return;
  Search search = {FileNamePart(path), nullptr};
  EnumWindows(FindFirstInstance, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return;
  ShowWindow(search.found, SW_SHOWNORMAL);
  SetForegroundWindow(search.found);
}

int CAsioControlPanelApp::Run(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    AsioTrace(kTraceCplStartFailed, 2);
    return 0;
  }
  HANDLE running = CreateMutexW(nullptr, TRUE, kAppMutexName);
  const DWORD created = GetLastError();
  if (running == nullptr || created == ERROR_ALREADY_EXISTS) {
    if (running != nullptr) {
      BringFirstForward();
      CloseHandle(running);
    } else {
      AsioTrace(kTraceCplStartFailed, 3, created);
    }
    CoUninitialize();
    return 0;
  }
  ULONG_PTR gdiplus = 0;
  Gdiplus::GdiplusStartupInput startup;
  const bool drawing = Gdiplus::GdiplusStartup(&gdiplus, &startup, nullptr) == Gdiplus::Ok;
  {
    CAsioControlPanelDlg dialog;
    dialog.DoModal(instance);
  }
  if (drawing) Gdiplus::GdiplusShutdown(gdiplus);
  ReleaseMutex(running);
  CloseHandle(running);
  CoUninitialize();
  return 0;
}
