// The buffer-size controls: the trackbar chooses the index into the ASIO driver's buffer-size
// table, the label shows what the host will get at the current rate.
#include <string>

#include "asio_control_panel_dlg.h"
#include "devices/single_host_objects.h"
#include "formats/buffer_sizes.h"
#include "rate_names.h"
#include "resource.h"
#include "wide_text.h"

namespace {

constexpr ULONG kLastIndex = kBufferSizeEntries - 1;
// What a trackbar position beyond the table stands for: the default index.
constexpr ULONG kOutOfRangeIndex = 63;

ULONG ClampIndex(LRESULT position) {
  return position >= 0 && position <= static_cast<LRESULT>(kLastIndex)
             ? static_cast<ULONG>(position)
             : kOutOfRangeIndex;
}

}  // namespace

void CAsioControlPanelDlg::ShowBufferSize(ULONG index) {
  const std::string number = std::to_string(DisplayedBufferSize(index, currentRate_)) + " Samples";
  const WideString text(number.begin(), number.end());
  SetDlgItemTextW(window_, IDC_BUFFER_SIZE, text.c_str());
}

void CAsioControlPanelDlg::StoreBufferIndex(ULONG index) {
  if (index == bufferIndex_) return;
  bufferIndex_ = index;
  settings_.WriteNumber(kSettingBufferSizeIndex, index);
}

void CAsioControlPanelDlg::RefreshBufferControls() {
  ULONG index = settings_.ReadNumber(kSettingBufferSizeIndex);
  if (index > kLastIndex) {
    index = kLastIndex;
    settings_.WriteNumber(kSettingBufferSizeIndex, index);
  }
  bufferIndex_ = index;
  HWND slider = Item(IDC_BUFFER_SLIDER);
  if (!CurrentIsRegistered()) {
    SetDlgItemTextW(window_, IDC_BUFFER_SIZE, WSTR("----"));
    SendMessageW(slider, TBM_SETPOS, TRUE, 0);
    EnableWindow(slider, FALSE);
    return;
  }
  ShowBufferSize(index);
  SendMessageW(slider, TBM_SETPOS, TRUE, static_cast<LPARAM>(index));
  EnableWindow(slider, TRUE);
}

void CAsioControlPanelDlg::OnHScroll(WORD code) {
  if (code >= TB_ENDTRACK) return;
  InstanceLock lock(instanceMutex_);
  const ULONG index = ClampIndex(SendMessageW(Item(IDC_BUFFER_SLIDER), TBM_GETPOS, 0, 0));
  // While the thumb is dragged only the label follows; the index is stored when it is let go.
  if (code != TB_THUMBTRACK) StoreBufferIndex(index);
  ShowBufferSize(index);
}
