// The logo: a PNG resource decoded with GDI+ into a 32-bit bitmap whose colours are
// premultiplied by their alpha at load, so that AlphaBlend can draw it with per-pixel alpha.
#pragma once

#include "user_mode.h"

class CLogo {
 public:
  CLogo() = default;
  ~CLogo();
  CLogo(const CLogo&) = delete;
  CLogo& operator=(const CLogo&) = delete;

  // Loads the PNG resource; false (traced) when it is missing or cannot be decoded. GDI+ must
  // have been started.
  bool Load(HINSTANCE instance, WORD resource);
  // Draws the logo centred in area; nothing without a loaded logo.
  void Draw(HDC dc, const RECT& area) const;

  LONG Width() const { return width_; }
  LONG Height() const { return height_; }
  // The premultiplied pixels, BGRA, top-down.
  const BYTE* Pixels() const { return static_cast<const BYTE*>(bits_); }

 private:
  HBITMAP bitmap_ = nullptr;
  void* bits_ = nullptr;
  LONG width_ = 0;
  LONG height_ = 0;
};

// Premultiplies one straight-alpha ARGB pixel (as GDI+ gives it) into BGRA bytes.
void PremultiplyPixel(const BYTE* argb, BYTE* bgra);
