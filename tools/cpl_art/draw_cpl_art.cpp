// Draws the control panel's logo (a PNG with per-pixel alpha) and its icon (an icon file whose
// images are PNG-compressed, 16, 32 and 48 pixels): a tarn, a round mountain lake, under a
// ridge, with a sound wave across the water. Run by scripts/draw-cpl-art, which commits nothing
// itself: the files it writes are checked in beside the control panel's code.
//   draw_cpl_art LOGO.png ICON.ico
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The emblem in a square of size s at (x, y).
void DrawEmblem(cairo_t* cr, double x, double y, double s) {
  const double cx = x + s / 2;
  const double cy = y + s / 2;
  const double r = s * 0.47;
  // The lake: a disc with a deep-blue gradient.
  cairo_pattern_t* water = cairo_pattern_create_linear(0, y, 0, y + s);
  cairo_pattern_add_color_stop_rgb(water, 0, 0.16, 0.55, 0.85);
  cairo_pattern_add_color_stop_rgb(water, 1, 0.04, 0.22, 0.46);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  cairo_set_source(cr, water);
  cairo_fill(cr);
  cairo_pattern_destroy(water);
  // The ridge above the water, clipped to the disc.
  cairo_save(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  cairo_clip(cr);
  cairo_move_to(cr, x, cy + s * 0.02);
  cairo_line_to(cr, x + s * 0.30, y + s * 0.22);
  cairo_line_to(cr, x + s * 0.46, y + s * 0.36);
  cairo_line_to(cr, x + s * 0.66, y + s * 0.14);
  cairo_line_to(cr, x + s, cy + s * 0.02);
  cairo_close_path(cr);
  cairo_set_source_rgba(cr, 0.93, 0.96, 1.0, 0.92);
  cairo_fill(cr);
  // The sound wave across the water.
  cairo_set_line_width(cr, std::max(1.0, s * 0.06));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  const double baseline = cy + s * 0.2;
  for (int i = 0; i <= 64; ++i) {
    const double t = i / 64.0;
    const double px = x + s * 0.08 + t * s * 0.84;
    const double py = baseline - std::sin(t * 4 * M_PI) * s * 0.09 * std::sin(t * M_PI);
    if (i == 0) cairo_move_to(cr, px, py);
    else cairo_line_to(cr, px, py);
  }
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_stroke(cr);
  cairo_restore(cr);
  // A soft rim.
  cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
  cairo_set_line_width(cr, std::max(1.0, s * 0.03));
  cairo_set_source_rgba(cr, 0.02, 0.12, 0.28, 0.8);
  cairo_stroke(cr);
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<unsigned char>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

std::vector<unsigned char> Png(cairo_surface_t* surface) {
  std::vector<unsigned char> bytes;
  cairo_surface_write_to_png_stream(surface, Append, &bytes);
  return bytes;
}

std::vector<unsigned char> IconImage(int size) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  DrawEmblem(cr, 0, 0, size);
  cairo_destroy(cr);
  std::vector<unsigned char> bytes = Png(surface);
  cairo_surface_destroy(surface);
  return bytes;
}

void Le(std::vector<unsigned char>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: draw_cpl_art LOGO.png ICON.ico\n");
    return 2;
  }
  // The logo: the emblem and the word beside it would not fit 78 x 66 pixels, so the emblem
  // alone, with a shadow that shows off the alpha.
  const int width = 78;
  const int height = 62;
  cairo_surface_t* logo = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(logo);
  cairo_pattern_t* shadow = cairo_pattern_create_radial(41, 33, 4, 41, 33, 31);
  cairo_pattern_add_color_stop_rgba(shadow, 0, 0, 0, 0, 0.35);
  cairo_pattern_add_color_stop_rgba(shadow, 1, 0, 0, 0, 0);
  cairo_arc(cr, 41, 33, 31, 0, 2 * M_PI);
  cairo_set_source(cr, shadow);
  cairo_fill(cr);
  cairo_pattern_destroy(shadow);
  DrawEmblem(cr, 11, 3, 56);
  cairo_destroy(cr);
  if (cairo_surface_write_to_png(logo, argv[1]) != CAIRO_STATUS_SUCCESS) return 1;
  cairo_surface_destroy(logo);

  const int sizes[] = {16, 32, 48};
  std::vector<std::vector<unsigned char>> images;
  for (int size : sizes) images.push_back(IconImage(size));
  std::vector<unsigned char> icon;
  Le(icon, 0, 2);
  Le(icon, 1, 2);  // an icon
  Le(icon, 3, 2);
  uint32_t offset = 6 + 16 * 3;
  for (size_t i = 0; i < 3; ++i) {
    icon.push_back(static_cast<unsigned char>(sizes[i]));
    icon.push_back(static_cast<unsigned char>(sizes[i]));
    icon.push_back(0);  // colours: none in a palette
    icon.push_back(0);
    Le(icon, 1, 2);   // planes
    Le(icon, 32, 2);  // bits per pixel
    Le(icon, static_cast<uint32_t>(images[i].size()), 4);
    Le(icon, offset, 4);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) icon.insert(icon.end(), image.begin(), image.end());
  std::ofstream file(argv[2], std::ios::binary);
  file.write(reinterpret_cast<const char*>(icon.data()), static_cast<std::streamsize>(icon.size()));
  return file ? 0 : 1;
}
