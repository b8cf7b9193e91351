// The visual window system: a dialog from an extended template in dialog units, its controls
// driven by the messages of a user's drag, click and keys, and drawing with per-pixel alpha
// rendered to PNG.
#include <cairo.h>

#include <cstring>
#include <string>
#include <vector>

#include "user_process_test.h"
#include "win32/user_input.h"

namespace tarnlink::win32::test {
namespace {

// A template: the header of a captioned dialog in "MS Shell Dlg" 8, then the items.
class Template {
 public:
  Template(short cx, short cy, WORD items) {
    Words({1, 0xFFFF, 0, 0, 0, 0});  // version, extended, help id, extended style
    Dword(DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Words({items, 0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy), 0, 0});
    Text(u"Probe");
    Words({8, FW_NORMAL, 0x0100});
    Text(u"MS Shell Dlg");
  }
  void Item(DWORD id, const char16_t* className, DWORD style, short x, short y, short cx, short cy) {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    Dword(0);
    Dword(0);
    Dword(WS_CHILD | WS_VISIBLE | style);
    Words({static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx),
           static_cast<WORD>(cy)});
    Dword(id);
    Text(className);
    Text(u"");
    Words({0});
  }
  LPCDLGTEMPLATEW Get() {
    aligned_.assign((bytes_.size() + 3) / 4, 0);
    std::memcpy(aligned_.data(), bytes_.data(), bytes_.size());
    return reinterpret_cast<LPCDLGTEMPLATEW>(aligned_.data());
  }

 private:
  void Words(std::initializer_list<WORD> words) {
    for (WORD w : words) bytes_.insert(bytes_.end(), {BYTE(w), BYTE(w >> 8)});
  }
  void Dword(DWORD d) { Words({WORD(d), WORD(d >> 16)}); }
  void Text(const char16_t* text) {
    for (; *text != 0; ++text) Words({*text});
    Words({0});
  }
  std::vector<BYTE> bytes_;
  std::vector<DWORD> aligned_;
};

struct Probe {
  LPARAM initParam = 0;
  std::vector<WORD> scrolls;  // WM_HSCROLL codes, in order
  std::vector<WORD> commands;  // WM_COMMAND notification codes
  std::vector<WORD> commandIds;  // and the ids they came with
  HBITMAP paint = nullptr;     // drawn with AlphaBlend at (0, 0) when set
};

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* probe = reinterpret_cast<Probe*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<Probe*>(lParam)->initParam = lParam;
      return TRUE;
    case WM_HSCROLL:
      probe->scrolls.push_back(LOWORD(wParam));
      return TRUE;
    case WM_COMMAND:
      probe->commands.push_back(HIWORD(wParam));
      probe->commandIds.push_back(LOWORD(wParam));
      return TRUE;
    case WM_PAINT: {
      if (probe == nullptr || probe->paint == nullptr) return FALSE;
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      HDC memory = CreateCompatibleDC(dc);
      SelectObject(memory, probe->paint);
      AlphaBlend(dc, 0, 0, 2, 1, memory, 0, 0, 2, 1, {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA});
      DeleteDC(memory);
      EndPaint(dialog, &paint);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// The dialog of the template, made for the probe and shown (the pointer and the tab stops find
// shown windows only).
HWND ShowDialog(Template& dialog, Probe& probe) {
  HWND window = CreateDialogIndirectParamW(nullptr, dialog.Get(), nullptr, ProbeProc,
                                           reinterpret_cast<LPARAM>(&probe));
  if (window != nullptr) ShowWindow(window, SW_SHOWNORMAL);
  return window;
}

// As a modeless dialog's message loop: the dialog's keys first.
void PumpDialog(HWND dialog) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    if (!IsDialogMessageW(dialog, &message)) DispatchMessageW(&message);
}

RECT WindowRectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

using DialogsTest = UserProcessTest;

TEST_F(DialogsTest, TemplatesBecomeWindowsInDialogUnits) {
  RunAsUser([] {
    Template dialog(334, 143, 2);
    dialog.Item(1000, u"ListBox", LBS_NOTIFY | WS_TABSTOP, 6, 6, 114, 84);
    dialog.Item(1001, u"msctls_trackbar32", WS_TABSTOP, 138, 30, 180, 15);
    Probe probe;
    HWND window = CreateDialogIndirectParamW(nullptr, dialog.Get(), nullptr, ProbeProc,
                                             reinterpret_cast<LPARAM>(&probe));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(probe.initParam, reinterpret_cast<LPARAM>(&probe));
    RECT client{};
    GetClientRect(window, &client);
    // "MS Shell Dlg" 8 has base units of 6 x 13 pixels: x * 6 / 4, y * 13 / 8.
    EXPECT_EQ(client.right, 501);
    EXPECT_EQ(client.bottom, 232);
    const RECT frame = WindowRectOf(window);
    const RECT list = WindowRectOf(GetDlgItem(window, 1000));
    const RECT slider = WindowRectOf(GetDlgItem(window, 1001));
    const LONG left = frame.left + (frame.right - frame.left - client.right) / 2;
    const LONG top = frame.bottom - client.bottom - (frame.right - frame.left - client.right) / 2;
    EXPECT_EQ(list.left - left, 9);
    EXPECT_EQ(list.top - top, 9);
    EXPECT_EQ(list.right - list.left, 171);
    EXPECT_EQ(list.bottom - list.top, 136);
    EXPECT_EQ(slider.left - left, 207);
    EXPECT_EQ(slider.bottom - slider.top, 24);
    EXPECT_EQ(GetDlgCtrlID(GetDlgItem(window, 1001)), 1001);
    EXPECT_EQ(GetFocus(), GetDlgItem(window, 1000));  // the first item that takes the tab
    EXPECT_FALSE(EnableWindow(GetDlgItem(window, 1001), FALSE));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, 1001)));
    DestroyWindow(window);
    EXPECT_FALSE(IsWindow(window));
  });
}

TEST_F(DialogsTest, ATrackbarReportsDragsClicksAndKeysAsTheirCodes) {
  RunAsUser([] {
    Template dialog(200, 40, 1);
    dialog.Item(1001, u"msctls_trackbar32", WS_TABSTOP, 10, 10, 180, 15);
    Probe probe;
    HWND window = ShowDialog(dialog, probe);
    HWND slider = GetDlgItem(window, 1001);
    SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELONG(0, 100));
    const POINT centre = ItemCentre(slider);
    const RECT client = [&] {
      RECT r{};
      GetClientRect(slider, &r);
      return r;
    }();
    const LONG left = centre.x - client.right / 2 + 8;
    const LONG usable = client.right - 16;
    // Drag the thumb from 0 to 40.
    UserDrag(window, {left, centre.y}, {left + 40 * usable / 100, centre.y});
    Pump();
    EXPECT_EQ(probe.scrolls, (std::vector<WORD>{TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK}));
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 40);
    // A click in the channel right of the thumb pages; a key steps a line.
    probe.scrolls.clear();
    UserClick(window, {left + usable - 2, centre.y});
    Pump();
    EXPECT_EQ(probe.scrolls, (std::vector<WORD>{TB_PAGEDOWN, TB_ENDTRACK}));
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 60);
    probe.scrolls.clear();
    UserKey(VK_LEFT);
    Pump();
    EXPECT_EQ(probe.scrolls, (std::vector<WORD>{TB_LINEUP, TB_ENDTRACK}));
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 59);
    // A disabled trackbar hears nothing.
    EnableWindow(slider, FALSE);
    probe.scrolls.clear();
    UserClick(window, {left + usable - 2, centre.y});
    Pump();
    EXPECT_TRUE(probe.scrolls.empty());
    DestroyWindow(window);
  });
}

TEST_F(DialogsTest, TabAndArrowsMoveTheFocusAsTheDialogsKeys) {
  RunAsUser([] {
    Template dialog(200, 100, 8);
    dialog.Item(1000, u"ListBox", WS_TABSTOP | WS_GROUP, 5, 5, 50, 40);
    dialog.Item(1001, u"Static", WS_GROUP, 60, 5, 20, 8);
    dialog.Item(1002, u"Static", 0, 60, 15, 20, 8);
    dialog.Item(1003, u"Static", 0, 60, 25, 20, 8);
    dialog.Item(1004, u"Static", 0, 60, 35, 20, 8);
    dialog.Item(1005, u"msctls_trackbar32", WS_TABSTOP | WS_GROUP, 5, 50, 100, 15);
    dialog.Item(1006, u"ComboBox", WS_TABSTOP | CBS_DROPDOWNLIST, 110, 50, 60, 50);
    dialog.Item(1007, u"msctls_trackbar32", WS_TABSTOP, 5, 70, 100, 15);
    Probe probe;
    HWND window = ShowDialog(dialog, probe);
    ASSERT_NE(window, nullptr);
    auto item = [&](int id) { return GetDlgItem(window, id); };
    // Hidden and disabled items are neither tab stops nor group members.
    ShowWindow(item(1003), SW_HIDE);
    ShowWindow(item(1007), SW_HIDE);
    EnableWindow(item(1006), FALSE);
    ASSERT_EQ(GetFocus(), item(1000));
    const struct {
      HWND from;  // focused first; null: where the last press left it
      WORD key;
      bool shift;
      int to;
    } presses[] = {
        {nullptr, VK_TAB, false, 1005},  // past the statics, which take no tab
        {nullptr, VK_TAB, false, 1000},  // round, past the disabled and the hidden
        {nullptr, VK_TAB, true, 1005},
        {nullptr, VK_TAB, true, 1000},
        {nullptr, VK_DOWN, false, 1000},  // the list keeps its arrows
        {item(1001), VK_DOWN, false, 1002},
        {nullptr, VK_RIGHT, false, 1004},  // past the hidden one
        {nullptr, VK_DOWN, false, 1001},   // round within the group
        {nullptr, VK_UP, false, 1004},
        {nullptr, VK_LEFT, false, 1002},
    };
    for (const auto& press : presses) {
      if (press.from != nullptr) SetFocus(press.from);
      UserKey(press.key, press.shift);
      PumpDialog(window);
      EXPECT_EQ(GetDlgCtrlID(GetFocus()), press.to) << press.key << " " << press.shift;
    }
    // The shift was let go with the last press; the selection in the list did not move.
    EXPECT_GE(GetKeyState(VK_SHIFT), 0);
    EXPECT_EQ(SendMessageW(item(1000), LB_GETCURSEL, 0, 0), LB_ERR);
    // Escape and Return are the dialog's Cancel and OK.
    for (const WORD key : {VK_ESCAPE, VK_RETURN}) {
      UserKey(key);
      PumpDialog(window);
    }
    EXPECT_EQ(probe.commandIds, (std::vector<WORD>{IDCANCEL, IDOK}));
    // Messages of other windows are not the dialog's.
    MSG other = {nullptr, WM_NULL, 0, 0, 0, {}};
    EXPECT_FALSE(IsDialogMessageW(window, &other));
    DestroyWindow(window);
  });
}

TEST_F(DialogsTest, AnOpenComboListIsDrawnOverTheWindowsEdge) {
  const std::string path = ::testing::TempDir() + "open_combo_" +
                           std::to_string(reinterpret_cast<uintptr_t>(this)) + ".png";
  RunAsUser([&] {
    Template dialog(100, 20, 1);
    dialog.Item(1006, u"ComboBox", WS_TABSTOP | CBS_DROPDOWNLIST, 10, 5, 60, 50);
    Probe probe;
    HWND window = ShowDialog(dialog, probe);
    HWND combo = GetDlgItem(window, 1006);
    for (const char16_t* text : {u"one", u"two", u"three"})
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(RenderWindow(window, path));
    DestroyWindow(window);
  });
  cairo_surface_t* shot = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(shot), CAIRO_STATUS_SUCCESS);
  // The window is 61 pixels high (a 32-pixel client area under the caption); the list starts
  // below the 21-pixel field at 26 + 8 + 21 and holds three lines of 15 in a 1-pixel border.
  EXPECT_EQ(cairo_image_surface_get_height(shot), 55 + 2 + 3 * 15);
  const BYTE* data = cairo_image_surface_get_data(shot);
  const int stride = cairo_image_surface_get_stride(shot);
  auto pixel = [&](int x, int y) {
    uint32_t value;
    std::memcpy(&value, data + y * stride + x * 4, 4);
    return value;
  };
  // The chosen line in the highlight colour, the others white, the border dark, and nothing
  // beside the list below the window.
  EXPECT_EQ(pixel(3 + 15 + 85, 55 + 1 + 15 + 7), 0xFF0078D7u);
  EXPECT_EQ(pixel(3 + 15 + 85, 55 + 1 + 7), 0xFFFFFFFFu);
  EXPECT_EQ(pixel(3 + 15, 80), 0xFF646464u);
  EXPECT_EQ(pixel(1, 80) >> 24, 0u);
  cairo_surface_destroy(shot);
  std::remove(path.c_str());
}

TEST_F(DialogsTest, PngsDecodeAndBlendWithTheirOwnAlpha) {
  const std::string path = ::testing::TempDir() + "alpha_blend_" +
                           std::to_string(reinterpret_cast<uintptr_t>(this)) + ".png";
  RunAsUser([&] {
    // A PNG of two pixels: red at half alpha, and fully transparent.
    cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 1);
    cairo_surface_flush(source);
    const uint32_t pixels[2] = {0x80800000, 0x00000000};  // premultiplied ARGB
    std::memcpy(cairo_image_surface_get_data(source), pixels, sizeof pixels);
    cairo_surface_mark_dirty(source);
    std::vector<BYTE> png;
    cairo_surface_write_to_png_stream(
        source,
        [](void* out, const unsigned char* data, unsigned int length) {
          auto* bytes = static_cast<std::vector<BYTE>*>(out);
          bytes->insert(bytes->end(), data, data + length);
          return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(source);

    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput startup;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &startup, nullptr), Gdiplus::Ok);
    IStream* stream = SHCreateMemStream(png.data(), static_cast<UINT>(png.size()));
    Gdiplus::GpBitmap* bitmap = nullptr;
    ASSERT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap), Gdiplus::Ok);
    stream->Release();
    Gdiplus::BitmapData data{};
    ASSERT_EQ(Gdiplus::DllExports::GdipBitmapLockBits(bitmap, nullptr, Gdiplus::ImageLockModeRead,
                                                      PixelFormat32bppARGB, &data),
              Gdiplus::Ok);
    const auto* argb = static_cast<const BYTE*>(data.Scan0);
    // Straight colour, B G R A in memory.
    EXPECT_EQ(std::vector<BYTE>(argb, argb + 4), (std::vector<BYTE>{0, 0, 255, 128}));
    EXPECT_EQ(argb[7], 0);
    Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap, &data);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    Gdiplus::GdiplusShutdown(token);

    // Premultiplied into a DIB and blended onto the dialog's face colour (240, 240, 240).
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, -1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    Probe probe;
    probe.paint = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const BYTE premultiplied[8] = {0, 0, 128, 128, 0, 0, 0, 0};
    std::memcpy(bits, premultiplied, sizeof premultiplied);
    Template dialog(20, 10, 0);
    HWND window = CreateDialogIndirectParamW(nullptr, dialog.Get(), nullptr, ProbeProc,
                                             reinterpret_cast<LPARAM>(&probe));
    ASSERT_TRUE(RenderWindow(window, path));
    DestroyWindow(window);
    DeleteObject(probe.paint);
  });
  cairo_surface_t* shot = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(shot), CAIRO_STATUS_SUCCESS);
  // The client area starts after the 3-pixel frame and the 23-pixel caption.
  const BYTE* data = cairo_image_surface_get_data(shot);
  const int stride = cairo_image_surface_get_stride(shot);
  uint32_t blended;
  uint32_t face;
  std::memcpy(&blended, data + 26 * stride + 3 * 4, 4);
  std::memcpy(&face, data + 26 * stride + 4 * 4, 4);
  // 128 + 240 x 127 / 255 red, 240 x 127 / 255 green and blue, give or take the rounding.
  EXPECT_NEAR(static_cast<int>((blended >> 16) & 0xFF), 248, 1);
  EXPECT_NEAR(static_cast<int>((blended >> 8) & 0xFF), 120, 1);
  EXPECT_NEAR(static_cast<int>(blended & 0xFF), 120, 1);
  EXPECT_EQ(face & 0xFFFFFF, 0xF0F0F0u);
  cairo_surface_destroy(shot);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace tarnlink::win32::test
