// Resources compiled by windres from the sample's script, read back as
// Windows reads them: both dialog template forms, the menu, DIBs, icons.
#include "resources.h"

#include <array>
#include <cstring>

#include "state.h"
#include "user_fixture.h"
#include "winsample.h"

namespace {

using namespace qzr::user;

const std::vector<uint8_t>& resource(WORD type, LPCSTR name) {
  const auto* data = find_resource(GetModuleHandleA(nullptr), type, name);
  static const std::vector<uint8_t> none;
  EXPECT_NE(nullptr, data) << "resource type " << type;
  return data ? *data : none;
}

class ResourcesTest : public UserTest {};

TEST_F(ResourcesTest, NamesAreFoundWithoutRegardToCaseAndNumbersByNumber) {
  struct Case {
    WORD type;
    LPCSTR name;
    bool found;
  } cases[] = {
      {5, "AboutBox", true},
      {5, "ABOUTBOX", true},
      {5, "aboutbox", true},
      {5, "About", false},
      {4, "MainMenu", true},
      {2, "logo", true},
      {14, MAKEINTRESOURCEA(IDI_SAMPLE), true},
      {14, "#101", true},
      {3, MAKEINTRESOURCEA(IDI_SAMPLE), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.found, find_resource(instance_, c.type, c.name) != nullptr)
        << "type " << c.type << " name " << (IS_INTRESOURCE(c.name) ? "#" : c.name);
}

TEST_F(ResourcesTest, DialogTemplatesOfBothForms) {
  struct Case {
    const char* name;
    bool extended;
    DWORD style, ex_style;
    short x, y, cx, cy;
    const char* caption;
    WORD points;
    const char* face;
    size_t items;
  } cases[] = {
      {"ABOUTBOX", false, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 40,
       30, 180, 76, "About Sample", 8, "MS Sans Serif", 6},
      {"NOTICE", true,
       WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK,
       WS_EX_DLGMODALFRAME, 14, 9, 200, 60, "Notice", 10, "Times New Roman", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& data = resource(5, c.name);
    auto t = parse_dialog(data.data(), data.size());
    ASSERT_TRUE(t);
    EXPECT_EQ(c.extended, t->extended);
    EXPECT_EQ(c.style, t->style);
    EXPECT_EQ(c.ex_style, t->ex_style);
    EXPECT_EQ(c.x, t->x);
    EXPECT_EQ(c.y, t->y);
    EXPECT_EQ(c.cx, t->cx);
    EXPECT_EQ(c.cy, t->cy);
    EXPECT_EQ(c.caption, t->caption);
    EXPECT_EQ(c.points, t->point_size);
    EXPECT_EQ(c.face, t->face);
    EXPECT_EQ(c.items, t->items.size());
  }
}

TEST_F(ResourcesTest, DialogItemsKeepClassIdTextPlaceAndStyle) {
  const auto& about = resource(5, "ABOUTBOX");
  auto a = parse_dialog(about.data(), about.size());
  ASSERT_TRUE(a);
  ASSERT_EQ(6u, a->items.size());
  // ICON IDI_SAMPLE: a Static (0x82) whose text is the icon's number.
  const DialogItem& icon = a->items[0];
  EXPECT_EQ((NameOrId{true, 0x82, ""}), icon.class_name);
  EXPECT_EQ((NameOrId{true, IDI_SAMPLE, ""}), icon.text);
  EXPECT_EQ(static_cast<DWORD>(SS_ICON), icon.style & SS_TYPEMASK);
  EXPECT_EQ(-1, icon.id);
  const DialogItem& disabled = a->items[2];
  EXPECT_EQ(IDC_DISABLED, disabled.id);
  EXPECT_EQ("This line is disabled", disabled.text.name);
  EXPECT_TRUE(disabled.style & WS_DISABLED);
  EXPECT_EQ(static_cast<DWORD>(SS_RIGHT), a->items[3].style & SS_TYPEMASK);
  const DialogItem& ok = a->items[5];
  EXPECT_EQ((NameOrId{true, 0x80, ""}), ok.class_name);
  EXPECT_EQ(IDOK, ok.id);
  EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), ok.style & BS_TYPEMASK);
  EXPECT_EQ((std::array<short, 4>{110, 54, 50, 14}),
            (std::array<short, 4>{ok.x, ok.y, ok.cx, ok.cy}));

  const auto& notice = resource(5, "NOTICE");
  auto n = parse_dialog(notice.data(), notice.size());
  ASSERT_TRUE(n);
  // Extended items carry 32-bit ids and named classes.
  EXPECT_STRCASEEQ("Static", n->items[1].class_name.name.c_str());
  EXPECT_EQ(IDC_STATUS, n->items[1].id);
  EXPECT_EQ("A notice in Times New Roman.", n->items[1].text.name);
  EXPECT_STRCASEEQ("Button", n->items[2].class_name.name.c_str());
  EXPECT_EQ(static_cast<DWORD>(BS_CENTER), n->items[2].style & BS_CENTER);
}

TEST_F(ResourcesTest, MenuTemplateBecomesPopupsWithStates) {
  const auto& data = resource(4, "MAINMENU");
  auto items = parse_menu(data.data(), data.size());
  ASSERT_TRUE(items);
  ASSERT_EQ(2u, items->size());
  EXPECT_EQ("&File", (*items)[0].text);
  EXPECT_TRUE((*items)[0].flags & MF_POPUP);
  const auto& file = (*items)[0].children;
  ASSERT_EQ(4u, file.size());
  EXPECT_EQ(IDM_ABOUT, file[0].id);
  EXPECT_TRUE(file[2].flags & MF_SEPARATOR);
  EXPECT_EQ("E&xit", file[3].text);
  const auto& options = (*items)[1].children;
  EXPECT_EQ(static_cast<WORD>(MF_CHECKED), options[0].flags & (MF_CHECKED | MF_GRAYED));
  EXPECT_EQ(static_cast<WORD>(MF_GRAYED), options[1].flags & (MF_CHECKED | MF_GRAYED));
}

TEST_F(ResourcesTest, BitmapsKeepSizeDepthAndPalette) {
  struct Case {
    const char* name;
    LONG width, height;
    WORD bits;
  } cases[] = {{"LOGO", 32, 16, 4}, {"LOGO8", 16, 16, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HBITMAP bmp = LoadBitmapA(instance_, c.name);
    ASSERT_NE(nullptr, bmp);
    BITMAP bm{};
    ASSERT_EQ(static_cast<int>(sizeof bm), GetObjectA(bmp, sizeof bm, &bm));
    EXPECT_EQ(c.width, bm.bmWidth);
    EXPECT_EQ(c.height, bm.bmHeight);
    EXPECT_EQ(c.bits, bm.bmBitsPixel);
    DeleteObject(bmp);
  }
  // Row 0 of the 8-bit picture is stored last (bottom-up) and maps through
  // the palette: index i has red (37 i) mod 256.
  HBITMAP bmp = LoadBitmapA(instance_, "LOGO8");
  HDC mem = CreateCompatibleDC(nullptr);
  SelectObject(mem, bmp);
  for (int x : {0, 1, 5, 15})
    EXPECT_EQ(RGB((x * 37) % 256, (x * 91) % 256, (x * 53) % 256), GetPixel(mem, x, 0));
  EXPECT_EQ(RGB((16 * 37) % 256, (16 * 91) % 256, (16 * 53) % 256), GetPixel(mem, 0, 1));
  DeleteDC(mem);
  DeleteObject(bmp);
}

TEST_F(ResourcesTest, IconsFromGroupsAndTheSystem) {
  HICON own = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_SAMPLE));
  ASSERT_NE(nullptr, own);
  BITMAP bm{};
  GetObjectA(own, sizeof bm, &bm);
  EXPECT_EQ(32, bm.bmWidth);
  EXPECT_EQ(32, bm.bmHeight);
  EXPECT_EQ(nullptr, LoadIconA(instance_, "SETUP_ICON"));
  for (LPCSTR id : {IDI_ASTERISK, IDI_HAND, IDI_APPLICATION})
    EXPECT_NE(nullptr, LoadIconA(nullptr, id));
  EXPECT_NE(nullptr, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_NE(nullptr, LoadCursorA(nullptr, IDC_WAIT));
}

TEST_F(ResourcesTest, MalformedImagesAreRejected) {
  const auto& data = resource(5, "ABOUTBOX");
  EXPECT_FALSE(parse_dialog(data.data(), data.size() / 2));
  std::vector<uint8_t> res(40, 0);
  res[0] = 0xFF;  // a data size far past the end
  res[4] = 32;
  EXPECT_FALSE(parse_res(res.data(), res.size()));
  uint8_t header[40] = {40};
  EXPECT_FALSE(parse_dib(header, sizeof header, false));  // zero width
}

}  // namespace
