#include "registry_notify.h"

#include "cpl_messages.h"
#include "settings/settings_table.h"

CRegistryNotify::CRegistryNotify(HWND owner)
    : CRegKeyWatcher(HKEY_CURRENT_USER, kSettingsKeyPath), owner_(owner) {}

void CRegistryNotify::OnChange() { PostMessageW(owner_, WM_APP, kAppSettingsChanged, 0); }
