// Resources as Windows reads them from a module: the .res image the
// resource compiler writes, and the formats of the templates inside it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qzr::user {

// A name or a number, as resource types and names are.
struct NameOrId {
  bool numeric = false;
  WORD number = 0;
  std::string name;
  bool operator==(const NameOrId&) const = default;
};

struct ResourceEntry {
  NameOrId type, name;
  WORD language = 0;
  std::vector<uint8_t> data;
};

// The entries of a .res file, in file order; nullopt when it is malformed.
std::optional<std::vector<ResourceEntry>> parse_res(const uint8_t* bytes, size_t size);

struct DialogItem {
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  NameOrId class_name;  // numeric: 0x80 Button, 0x82 Static, ...
  NameOrId text;        // numeric: a resource number (icons of SS_ICON)
};

struct DialogTemplate {
  bool extended = false;
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  NameOrId menu, class_name;
  std::string caption;
  WORD point_size = 0;
  WORD weight = FW_NORMAL;
  bool italic = false;
  std::string face;
  std::vector<DialogItem> items;
};
std::optional<DialogTemplate> parse_dialog(const uint8_t* bytes, size_t size);

struct MenuTemplateItem {
  WORD flags = 0;
  WORD id = 0;
  std::string text;
  std::vector<MenuTemplateItem> children;  // for MF_POPUP
};
std::optional<std::vector<MenuTemplateItem>> parse_menu(const uint8_t* bytes, size_t size);

// A device-independent bitmap decoded to 0x00RRGGBB, top row first.
struct Dib {
  int width = 0, height = 0, bits_per_pixel = 0;
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> mask;  // icons: 1 where transparent
};
std::optional<Dib> parse_dib(const uint8_t* bytes, size_t size, bool icon);

// Registers a module's .res image; returns its instance handle.
HINSTANCE register_module(const std::string& name, const uint8_t* res, size_t size);

}  // namespace qzr::user
