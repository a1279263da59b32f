// Pixels on the screen: fills, a 4-bit bitmap through BitBlt, text in the
// requested face and colour, and a disabled static drawn greyed.
#include <algorithm>

#include "state.h"
#include "user_fixture.h"
#include "winsample.h"

namespace {

class GdiTest : public UserTest {
 protected:
  // A borderless white popup at (100, 100): client and screen differ by that.
  HWND canvas() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "Canvas";
    RegisterClassA(&wc);
    HWND h = CreateWindowExA(0, "Canvas", "", WS_POPUP | WS_VISIBLE, 100, 100, 200, 100, nullptr,
                             nullptr, nullptr, nullptr);
    qzr::user::run_until_idle();
    return h;
  }
};

TEST_F(GdiTest, FillRectPaintsExactlyTheRectangleInTheBrushColour) {
  HWND h = canvas();
  struct Case {
    const char* what;
    HBRUSH brush;
    COLORREF want;
  } cases[] = {
      {"solid", CreateSolidBrush(RGB(1, 2, 3)), RGB(1, 2, 3)},
      {"stock black", static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), RGB(0, 0, 0)},
      {"stock light grey", static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)), RGB(192, 192, 192)},
      {"system colour + 1", reinterpret_cast<HBRUSH>(COLOR_ACTIVECAPTION + 1), RGB(0, 0, 128)},
      {"band blue 254", CreateSolidBrush(RGB(0, 0, 254)), RGB(0, 0, 254)},
  };
  HDC hdc = GetDC(h);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RECT r{10, 20, 30, 25};
    FillRect(hdc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    RECT all{0, 0, 200, 100};
    FillRect(hdc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ASSERT_EQ(1, FillRect(hdc, &r, c.brush));
    EXPECT_EQ(c.want, at(110, 120));  // top-left corner is inside
    EXPECT_EQ(c.want, at(129, 124));  // bottom-right is one short of right, bottom
    EXPECT_EQ(RGB(255, 255, 255), at(130, 124));
    EXPECT_EQ(RGB(255, 255, 255), at(129, 125));
    EXPECT_EQ(RGB(255, 255, 255), at(109, 120));
    DeleteObject(c.brush);
  }
  // Drawing stops at the client area's edge.
  RECT past{190, 90, 400, 300};
  FillRect(hdc, &past, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(RGB(0, 0, 0), at(299, 199));
  EXPECT_EQ(RGB(0, 128, 128), at(300, 199));  // the desktop beside it
  ReleaseDC(h, hdc);
}

// The device icons take a memory DC on every paint: it must leave nothing
// behind, its own 1 x 1 bitmap included.
TEST_F(GdiTest, DeviceContextsLeaveNoObjectsBehind) {
  HWND h = canvas();
  HBITMAP logo = LoadBitmapA(instance_, "Logo");
  size_t before = qzr::user::desk().object_count();
  for (int i = 0; i < 50; ++i) {
    HDC hdc = GetDC(h);
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, logo);
    BitBlt(hdc, 0, 0, 32, 16, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(h, hdc);
  }
  EXPECT_EQ(before, qzr::user::desk().object_count());
  DeleteObject(logo);
}

TEST_F(GdiTest, FourBitBitmapBlitsThroughItsPalette) {
  HWND h = canvas();
  HBITMAP logo = LoadBitmapA(instance_, "Logo");
  ASSERT_NE(nullptr, logo);
  HDC hdc = GetDC(h);
  HDC mem = CreateCompatibleDC(hdc);
  HGDIOBJ old = SelectObject(mem, logo);
  ASSERT_TRUE(BitBlt(hdc, 5, 7, 32, 16, mem, 0, 0, SRCCOPY));
  // Rows 0-7: sixteen 2-pixel bars in the 16-colour palette's order.
  const COLORREF vga[16] = {
      RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
      RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
      RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
      RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(vga[i], at(105 + 2 * i, 107)) << "bar " << i;
    EXPECT_EQ(vga[i], at(106 + 2 * i, 114)) << "bar " << i;
  }
  // Rows 8-15: white with black where x == y.
  EXPECT_EQ(RGB(0, 0, 0), at(105 + 9, 107 + 9));
  EXPECT_EQ(RGB(255, 255, 255), at(105 + 10, 107 + 9));
  EXPECT_EQ(RGB(255, 255, 255), at(105 + 31, 107 + 15));
  EXPECT_EQ(RGB(255, 255, 255), at(105 + 32, 107 + 15));  // past the picture: the canvas
  EXPECT_EQ(RGB(255, 255, 255), at(105, 107 + 16));
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(h, hdc);
  DeleteObject(logo);
}

COLORREF UserTest_at(int x, int y) {
  uint32_t p = qzr::user::screen_pixel(x, y);
  return RGB((p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff);
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};
Box pixels_of(COLORREF c, int x0, int y0, int x1, int y1) {
  Box b;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (UserTest_at(x, y) == c) {
        b.left = std::min(b.left, x), b.top = std::min(b.top, y);
        b.right = std::max(b.right, x + 1), b.bottom = std::max(b.bottom, y + 1);
        ++b.count;
      }
  return b;
}

TEST_F(GdiTest, TextIsDrawnInTheFaceColourAndPlaceAsked) {
  HWND h = canvas();
  HDC hdc = GetDC(h);
  struct Case {
    const char* face;
    int height;
  } cases[] = {{"Times New Roman", -24}, {"MS Sans Serif", -24}};
  std::vector<LONG> widths;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face);
    RECT all{0, 0, 200, 100};
    FillRect(hdc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HFONT f = CreateFontA(c.height, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, c.face);
    HGDIOBJ old = SelectObject(hdc, f);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(0, 0, 128));
    SIZE size;
    GetTextExtentPoint32A(hdc, "Wide", 4, &size);
    widths.push_back(size.cx);
    TextOutA(hdc, 20, 30, "Wide", 4);
    Box b = pixels_of(RGB(0, 0, 128), 100, 100, 300, 200);
    EXPECT_GT(b.count, 50);
    // Within the text's cell, starting at its origin.
    EXPECT_GE(b.left, 120);
    EXPECT_LE(b.left, 123);
    EXPECT_GE(b.top, 130);
    EXPECT_LE(b.right, 120 + size.cx + 1);
    EXPECT_LE(b.bottom, 130 + size.cy);
    // No anti-aliasing: only the text colour and the background appear.
    for (int y = 130; y < 130 + size.cy; ++y)
      for (int x = 120; x < 120 + size.cx; ++x) {
        COLORREF p = at(x, y);
        ASSERT_TRUE(p == RGB(0, 0, 128) || p == RGB(255, 255, 255)) << x << "," << y;
      }
    SelectObject(hdc, old);
    DeleteObject(f);
  }
  EXPECT_NE(widths[0], widths[1]) << "the faces differ";
  // Opaque mode fills the cell with the background colour.
  SetBkMode(hdc, OPAQUE);
  SetBkColor(hdc, RGB(0, 255, 0));
  TextOutA(hdc, 0, 0, "x", 1);
  EXPECT_EQ(RGB(0, 255, 0), at(100, 100));
  ReleaseDC(h, hdc);
}

TEST_F(GdiTest, DisabledStaticIsEmbossedGrey) {
  HWND dlg = CreateDialogParamA(instance_, "AboutBox", nullptr, nullptr, 0);
  ShowWindow(dlg, SW_SHOWNORMAL);
  qzr::user::run_until_idle();
  struct Case {
    int id;
    bool disabled;
  } cases[] = {{IDC_DISABLED, true}};
  for (const auto& c : cases) {
    RECT r;
    GetWindowRect(GetDlgItem(dlg, c.id), &r);
    Box black = pixels_of(RGB(0, 0, 0), r.left, r.top, r.right, r.bottom);
    Box grey = pixels_of(RGB(128, 128, 128), r.left, r.top, r.right, r.bottom);
    Box white = pixels_of(RGB(255, 255, 255), r.left, r.top, r.right, r.bottom);
    EXPECT_EQ(0, black.count);
    EXPECT_GT(grey.count, 30);
    EXPECT_GT(white.count, 10);
    // The white copy lies one pixel down and right of the grey one.
    EXPECT_EQ(grey.left + 1, white.left);
    EXPECT_EQ(grey.top + 1, white.top);
  }
  // Enabling it draws it in black.
  EnableWindow(GetDlgItem(dlg, IDC_DISABLED), TRUE);
  qzr::user::run_until_idle();
  RECT r;
  GetWindowRect(GetDlgItem(dlg, IDC_DISABLED), &r);
  EXPECT_GT(pixels_of(RGB(0, 0, 0), r.left, r.top, r.right, r.bottom).count, 30);
  EXPECT_EQ(0, pixels_of(RGB(255, 255, 255), r.left, r.top, r.right, r.bottom).count);
}

// An icon static whose number the module lacks shows the system icon of
// that number, at the icon's own size.
TEST_F(GdiTest, IconStaticFallsBackToTheSystemIcon) {
  HWND dlg = CreateDialogParamA(instance_, "Notice", nullptr, nullptr, 0);
  ASSERT_NE(nullptr, dlg);
  HWND icon = qzr::user::find_child(dlg, "Static", "#32516");
  ASSERT_NE(nullptr, icon);
  EXPECT_EQ(reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_ASTERISK)),
            SendMessageA(icon, STM_GETICON, 0, 0));
  RECT r = qzr::user::window_rect(icon);
  EXPECT_EQ(32, r.right - r.left);
  EXPECT_EQ(32, r.bottom - r.top);
  qzr::user::run_until_idle();
  EXPECT_EQ(RGB(0, 0, 255), at(r.left + 15, r.top + 15));  // the information icon's blue i
}

// The device icons' drawing: the picture's size through DPtoLP in the
// window DC's map mode, blitted from a memory DC in the same mode, must land
// on exactly the picture's pixels whatever the mode.
TEST_F(GdiTest, MapModesScaleDrawingAsDPtoLPConverts) {
  HWND h = canvas();
  HBITMAP logo = LoadBitmapA(instance_, "Logo");
  ASSERT_NE(nullptr, logo);
  struct Case {
    int mode;
    POINT logical;  // of the 32 x 16 picture
  } cases[] = {{MM_TEXT, {32, 16}},       {MM_LOMETRIC, {85, -42}},    {MM_HIMETRIC, {847, -423}},
               {MM_LOENGLISH, {33, -17}}, {MM_HIENGLISH, {333, -167}}, {MM_TWIPS, {480, -240}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    HDC hdc = GetDC(h);
    RECT all{0, 0, 200, 100};
    FillRect(hdc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(MM_TEXT, SetMapMode(hdc, c.mode));
    EXPECT_EQ(c.mode, GetMapMode(hdc));
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, logo);
    SetMapMode(mem, GetMapMode(hdc));
    BITMAP bm;
    ASSERT_EQ(static_cast<int>(sizeof bm), GetObjectA(logo, sizeof bm, &bm));
    POINT extent{bm.bmWidth, bm.bmHeight};
    DPtoLP(hdc, &extent, 1);
    EXPECT_EQ(c.logical.x, extent.x);
    EXPECT_EQ(c.logical.y, extent.y);
    POINT back = extent;
    LPtoDP(hdc, &back, 1);
    EXPECT_EQ(32, back.x);
    EXPECT_EQ(16, back.y);
    ASSERT_TRUE(BitBlt(hdc, 0, 0, extent.x, extent.y, mem, 0, 0, SRCCOPY));
    EXPECT_EQ(RGB(0, 0, 0), at(100, 100));                  // bar 0, the picture's corner
    EXPECT_EQ(RGB(255, 255, 255), at(100 + 31, 100 + 7));   // bar 15
    EXPECT_EQ(RGB(0, 0, 0), at(100 + 15, 100 + 15));        // the diagonal's last pixel
    EXPECT_EQ(RGB(255, 255, 255), at(100 + 15, 100 + 16));  // below the picture
    EXPECT_EQ(RGB(255, 255, 255), at(100 + 32, 100 + 3));   // right of it
    // A fill given in logical units covers the device rectangle they convert to.
    RECT cell{extent.x, 0, 2 * extent.x, extent.y};
    POINT far{cell.right, cell.bottom};
    LPtoDP(hdc, &far, 1);
    EXPECT_NEAR(64, far.x, 1);
    FillRect(hdc, &cell, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(RGB(0, 0, 0), at(100 + 32, 100));
    EXPECT_EQ(RGB(0, 0, 0), at(100 + far.x - 1, 100 + 15));
    EXPECT_EQ(RGB(255, 255, 255), at(100 + far.x, 100 + 15));
    EXPECT_EQ(RGB(255, 255, 255), at(100 + far.x - 1, 100 + 16));
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(h, hdc);
  }
  DeleteObject(logo);
}

}  // namespace
