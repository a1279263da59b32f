// Dialog units: base units from the template's font, the rounding of
// MulDiv, and the sizes a template gives its dialog and controls.
#include <algorithm>

#include "state.h"
#include "user_fixture.h"
#include "winsample.h"

namespace {

class DialogUnitsTest : public UserTest {};

TEST(MulDiv, RoundsHalfAwayFromZeroAndRefusesZeroDivisor) {
  struct Case {
    int n, num, den, want;
  } cases[] = {{3, 1, 2, 2},  {-3, 1, 2, -2}, {5, 6, 4, 8},    {7, 6, 4, 11},
               {1, 13, 8, 2}, {1, 1, 0, -1},  {-7, 6, -4, 11}, {2000000000, 3, 3, 2000000000}};
  for (const auto& c : cases)
    EXPECT_EQ(c.want, MulDiv(c.n, c.num, c.den)) << c.n << "*" << c.num << "/" << c.den;
}

// NT 4.0's System font has a 16-pixel cell and averages 8 pixels; the
// substitute bold face runs up to a pixel wider.
TEST_F(DialogUnitsTest, SystemFontGivesTheClassicBaseUnits) {
  LONG units = GetDialogBaseUnits();
  EXPECT_GE(LOWORD(units), 8);
  EXPECT_LE(LOWORD(units), 9);
  EXPECT_EQ(16, HIWORD(units));
  // The message font, 8-point MS Sans Serif, gives the familiar 6 x 13.
  POINT m = qzr::user::dialog_base_units_of(qzr::user::message_font());
  EXPECT_EQ(6, m.x);
  EXPECT_EQ(13, m.y);
}

// A dialog's client area and its controls are its template's dialog units
// mapped through the base units of the template's own font.
TEST_F(DialogUnitsTest, TemplateSizesMapThroughTheTemplateFont) {
  struct Case {
    const char* name;
    int control_id;
  } cases[] = {{"AboutBox", IDOK}, {"Notice", IDOK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& data = *qzr::user::find_resource(instance_, 5, c.name);
    auto t = qzr::user::parse_dialog(data.data(), data.size());
    ASSERT_TRUE(t);
    HWND dlg = CreateDialogParamA(instance_, c.name, nullptr, nullptr, 0);
    ASSERT_NE(nullptr, dlg);
    qzr::user::Window* w = qzr::user::desk().window(dlg);
    int bx = w->dialog->base_x, by = w->dialog->base_y;
    HFONT tf = CreateFontA(-MulDiv(t->point_size, 96, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0,
                           0, t->face.c_str());
    POINT want = qzr::user::dialog_base_units_of(tf);
    EXPECT_EQ(want.x, bx);
    EXPECT_EQ(want.y, by);
    RECT rc;
    GetClientRect(dlg, &rc);
    EXPECT_EQ(MulDiv(t->cx, bx, 4), rc.right);
    EXPECT_EQ(MulDiv(t->cy, by, 8), rc.bottom);
    RECT mapped{0, 0, t->cx, t->cy};
    MapDialogRect(dlg, &mapped);
    EXPECT_EQ(rc.right, mapped.right);
    EXPECT_EQ(rc.bottom, mapped.bottom);
    const auto& item = *std::find_if(t->items.begin(), t->items.end(),
                                     [&](const auto& i) { return i.id == c.control_id; });
    RECT cr;
    GetWindowRect(GetDlgItem(dlg, c.control_id), &cr);
    POINT origin{0, 0};
    ClientToScreen(dlg, &origin);
    EXPECT_EQ(MulDiv(item.x, bx, 4), cr.left - origin.x);
    EXPECT_EQ(MulDiv(item.y, by, 8), cr.top - origin.y);
    EXPECT_EQ(MulDiv(item.cx, bx, 4), cr.right - cr.left);
    EXPECT_EQ(MulDiv(item.cy, by, 8), cr.bottom - cr.top);
    DestroyWindow(dlg);
  }
}

TEST_F(DialogUnitsTest, LargerTemplateFontGivesLargerUnits) {
  HFONT small =
      CreateFontA(-MulDiv(8, 96, 72), 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Times New Roman");
  HFONT large =
      CreateFontA(-MulDiv(12, 96, 72), 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Times New Roman");
  POINT a = qzr::user::dialog_base_units_of(small), b = qzr::user::dialog_base_units_of(large);
  EXPECT_LT(a.x, b.x);
  EXPECT_LT(a.y, b.y);
}

}  // namespace
