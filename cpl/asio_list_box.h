// The device list's drawing: one line per device, vertically centred, the selected one in the
// system's highlight colours, the focused one with a focus rectangle, and the highlighted one
// (the device the panel works on) in a heavy font.
#pragma once

#include "user_mode.h"

class CAsioListBox {
 public:
  CAsioListBox() = default;
  ~CAsioListBox();
  CAsioListBox(const CAsioListBox&) = delete;
  CAsioListBox& operator=(const CAsioListBox&) = delete;

  void Attach(HWND window) { window_ = window; }
  HWND Window() const { return window_; }
  void SetHighlighted(int index) { highlighted_ = index; }

  // Draws one item as WM_DRAWITEM asks.
  void DrawItem(const DRAWITEMSTRUCT& item);

 private:
  HFONT HeavyFont();

  HWND window_ = nullptr;
  int highlighted_ = -1;
  HFONT heavy_ = nullptr;
};
