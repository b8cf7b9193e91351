// The settings watcher of the control panel: every change of the per-user settings key posts
// WM_APP (settings changed) to the dialog, which does the work on its own thread.
#pragma once

#include "reg_key_watcher.h"

class CRegistryNotify : public CRegKeyWatcher {
 public:
  explicit CRegistryNotify(HWND owner);

 protected:
  void OnChange() override;

 private:
  HWND owner_;
};
