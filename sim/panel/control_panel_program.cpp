#include "sim/panel/control_panel_program.h"

#include "asio_control_panel_app.h"
#include "dialog_template.h"
#include "resource.h"
#include "win32/win32_host.h"

void RegisterControlPanelProgram(const std::u16string& path) {
  tarnlink::win32::RegisterProgram(path, [](const std::u16string&) -> DWORD {
    CAsioControlPanelApp app;
    return static_cast<DWORD>(app.Run(GetModuleHandleW(nullptr)));
  });
  const std::vector<DWORD>& dialog = MainDialogTemplate();
  const auto* bytes = reinterpret_cast<const BYTE*>(dialog.data());
  tarnlink::win32::RegisterResources(
      path, {{tarnlink::win32::ResourceKey(RT_DIALOG),
              tarnlink::win32::ResourceKey(MAKEINTRESOURCEW(IDD_TARNLINK_CPL_DIALOG)),
              std::vector<BYTE>(bytes, bytes + dialog.size() * sizeof(DWORD))},
             {u"PNG", tarnlink::win32::ResourceKey(MAKEINTRESOURCEW(IDB_LOGO)), kLogoPng},
             {tarnlink::win32::ResourceKey(RT_GROUP_ICON),
              tarnlink::win32::ResourceKey(MAKEINTRESOURCEW(IDR_MAINFRAME)), kIcon}});
}
