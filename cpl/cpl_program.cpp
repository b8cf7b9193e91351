#include "cpl_program.h"

#include "asio_control_panel_app.h"
#include "resource.h"
#include "win32/win32_host.h"

void RegisterControlPanelProgram(const std::u16string& path) {
  tarnlink::win32::RegisterProgram(path, [](const std::u16string&) -> DWORD {
    CAsioControlPanelApp app;
    return static_cast<DWORD>(app.Run(GetModuleHandleW(nullptr)));
  });
  tarnlink::win32::RegisterResources(
      path, {{u"PNG", tarnlink::win32::ResourceKey(MAKEINTRESOURCEW(IDB_LOGO)), kLogoPng},
             {tarnlink::win32::ResourceKey(RT_GROUP_ICON),
              tarnlink::win32::ResourceKey(MAKEINTRESOURCEW(IDR_MAINFRAME)), kIcon}});
}
