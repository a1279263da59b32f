#include "nt/registry/hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qzr::nt::registry {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kNewline = "\r\n";
// A hex line is broken once it passes this column, so that the next byte
// ("xx,") and the continuation mark still fit in 80 columns.
constexpr std::size_t kHexBreakColumn = 76;

char fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim_left(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool starts_with_folded(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Hive::names_equal(s.substr(0, prefix.size()), prefix);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses 1 to max_digits hex digits making up all of `s`.
bool parse_hex_number(std::string_view s, std::size_t max_digits, std::uint32_t& out) {
  if (s.empty() || s.size() > max_digits) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = hex_digit(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

void append_quoted(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

// Reads a quoted string starting at s[0] == '"'; `s` is left after the
// closing quote.
bool parse_quoted(std::string_view& s, std::string& out, std::string& what) {
  out.clear();
  std::size_t i = 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s.size()) break;
      char next = s[i + 1];
      if (next != '\\' && next != '"') {
        what = std::string("bad escape \\") + next + " in a quoted string";
        return false;
      }
      out += next;
      i += 2;
      continue;
    }
    out += c;
    ++i;
  }
  what = "unterminated string";
  return false;
}

// A REG_SZ written in quotes must read back as the same bytes: text with
// no zero or line break, then exactly one terminating zero.
bool quotable_string(const Value& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
    std::uint8_t b = value.data[i];
    if (b == 0 || b == '\r' || b == '\n') return false;
  }
  return true;
}

void append_value(std::string& out, const Value& value) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    append_quoted(line, value.name);
  }
  line += '=';
  char buf[32];
  if (quotable_string(value)) {
    append_quoted(line, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                         value.data.size() - 1));
  } else if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t v = static_cast<std::uint32_t>(value.data[0]) |
                      static_cast<std::uint32_t>(value.data[1]) << 8 |
                      static_cast<std::uint32_t>(value.data[2]) << 16 |
                      static_cast<std::uint32_t>(value.data[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    line += buf;
  } else {
    if (value.type == kRegBinary) {
      line += "hex:";
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
      line += buf;
    }
    const std::size_t n = value.data.size();
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(buf, sizeof buf, i + 1 < n ? "%02x," : "%02x", value.data[i]);
      line += buf;
      if (i + 1 < n && line.size() > kHexBreakColumn) {
        out += line;
        out += '\\';
        out += kNewline;
        line = "  ";
      }
    }
  }
  out += line;
  out += kNewline;
}

void append_key(std::string& out, const Key& key) {
  if (!key.values().empty() || (key.subkeys().empty() && key.parent() != nullptr)) {
    out += '[';
    out += key.path();
    out += ']';
    out += kNewline;
    for (const Value& value : key.values()) append_value(out, value);
    out += kNewline;
  }
  for (const auto& sub : key.subkeys()) append_key(out, *sub);
}

// Splits `path` at backslashes; a single trailing backslash is allowed.
bool split_path(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  while (true) {
    std::size_t cut = path.find('\\');
    std::string_view part = path.substr(0, cut);
    if (part.empty()) return false;
    parts.push_back(part);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

std::size_t depth_of(const Key& key) {
  std::size_t depth = 0;
  for (const Key* k = key.parent(); k != nullptr; k = k->parent()) ++depth;
  return depth;
}

void set_error(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::string Key::path() const {
  if (parent_ == nullptr) return name_;
  return parent_->path() + "\\" + name_;
}

Key* Key::find_subkey(std::string_view name) const {
  for (const auto& sub : subkeys_) {
    if (Hive::names_equal(sub->name_, name)) return sub.get();
  }
  return nullptr;
}

const Value* Key::find_value(std::string_view name) const {
  for (const Value& value : values_) {
    if (Hive::names_equal(value.name, name)) return &value;
  }
  return nullptr;
}

Hive::Hive() {
  for (std::string_view name : kRootNames) {
    roots_.push_back(std::make_unique<Key>(std::string(name), nullptr));
  }
}

bool Hive::names_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool Hive::valid_key_name(std::string_view name) {
  return !name.empty() && name.size() <= kMaxKeyNameBytes &&
         name.find_first_of(std::string_view("\\\r\n\0", 4)) == std::string_view::npos;
}

bool Hive::valid_value_name(std::string_view name) {
  return name.size() <= kMaxValueNameBytes &&
         name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

Key* Hive::root(std::string_view name) const {
  for (const auto& r : roots_) {
    if (names_equal(r->name(), name)) return r.get();
  }
  return nullptr;
}

Key* Hive::find_key(std::string_view path) const {
  std::size_t cut = path.find('\\');
  Key* top = root(path.substr(0, cut));
  if (top == nullptr) return nullptr;
  if (cut == std::string_view::npos) return top;
  return find_key(*top, path.substr(cut + 1));
}

Key* Hive::find_key(const Key& from, std::string_view relative) const {
  std::vector<std::string_view> parts;
  if (!split_path(relative, parts)) return nullptr;
  const Key* key = &from;
  for (std::string_view part : parts) {
    key = key->find_subkey(part);
    if (key == nullptr) return nullptr;
  }
  return const_cast<Key*>(key);
}

Key* Hive::create_key(std::string_view path, std::string* error) {
  std::size_t cut = path.find('\\');
  Key* top = root(path.substr(0, cut));
  if (top == nullptr) {
    set_error(error, "unknown root key \"" + std::string(path.substr(0, cut)) + "\"");
    return nullptr;
  }
  if (cut == std::string_view::npos) return top;
  return create_key(*top, path.substr(cut + 1), error);
}

Key* Hive::create_key(Key& from, std::string_view relative, std::string* error, bool* created) {
  if (created != nullptr) *created = false;
  std::vector<std::string_view> parts;
  if (!split_path(relative, parts)) {
    set_error(error, "empty key name in \"" + std::string(relative) + "\"");
    return nullptr;
  }
  for (std::string_view part : parts) {
    if (!valid_key_name(part)) {
      set_error(error, "bad key name \"" + std::string(part) + "\"");
      return nullptr;
    }
  }
  if (depth_of(from) + parts.size() > kMaxKeyDepth) {
    set_error(error, "key path nested too deep");
    return nullptr;
  }
  Key* key = &from;
  for (std::string_view part : parts) {
    Key* sub = key->find_subkey(part);
    if (sub == nullptr) {
      key->subkeys_.push_back(std::make_unique<Key>(std::string(part), key));
      sub = key->subkeys_.back().get();
      if (created != nullptr) *created = true;
    }
    key = sub;
  }
  return key;
}

bool Hive::set_value(Key& key, std::string_view name, std::uint32_t type,
                     std::vector<std::uint8_t> data, std::string* error) {
  if (!valid_value_name(name)) {
    set_error(error, "bad value name");
    return false;
  }
  if (data.size() > kMaxValueBytes) {
    set_error(error, "value data too large");
    return false;
  }
  for (Value& value : key.values_) {
    if (names_equal(value.name, name)) {
      value.type = type;
      value.data = std::move(data);
      return true;
    }
  }
  key.values_.push_back(Value{std::string(name), type, std::move(data)});
  return true;
}

const Value* Hive::query_value(const Key& key, std::string_view name) const {
  return key.find_value(name);
}

bool Hive::delete_value(Key& key, std::string_view name) {
  for (auto it = key.values_.begin(); it != key.values_.end(); ++it) {
    if (names_equal(it->name, name)) {
      key.values_.erase(it);
      return true;
    }
  }
  return false;
}

std::string Hive::text() const {
  std::string out(kHeader);
  out += kNewline;
  out += kNewline;
  for (const auto& r : roots_) append_key(out, *r);
  return out;
}

bool Hive::load(const std::string& path, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
    error = path + ": not read: larger than " + std::to_string(kMaxFileBytes) + " bytes";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    error = path + ": cannot read";
    return false;
  }
  return parse(content.str(), path, error);
}

bool Hive::parse(std::string_view text, const std::string& file_name, std::string& error) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }

  auto fail = [&](std::size_t index, const std::string& what) {
    error = file_name + ":" + std::to_string(index + 1) + ": " + what;
    return false;
  };

  if (lines.empty() || trim_right(lines[0]) != kHeader) {
    return fail(0, "not a REGEDIT4 file: the first line must read REGEDIT4");
  }

  Hive fresh;
  Key* current = nullptr;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = trim_left(lines[i]);
    if (trim_right(line).empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      std::size_t close = line.rfind(']');
      if (close == std::string_view::npos || !trim_right(line.substr(close + 1)).empty()) {
        return fail(i, "bad section: a key path in [brackets] must fill the line");
      }
      std::string_view path = line.substr(1, close - 1);
      if (!path.empty() && path.front() == '-') {
        return fail(i, "bad section: key deletion is not supported in a hive file");
      }
      std::string what;
      current = fresh.create_key(path, &what);
      if (current == nullptr) return fail(i, "bad section: " + what);
      continue;
    }

    if (line.front() != '"' && line.front() != '@') {
      return fail(i, "unexpected text: expected [key], \"name\"=data or @=data");
    }
    if (current == nullptr) return fail(i, "a value before the first [key] section");
    const std::size_t first_line = i;

    std::string name;
    std::string what;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!parse_quoted(line, name, what)) {
      return fail(i, "bad value name: " + what);
    }
    line = trim_left(line);
    if (line.empty() || line.front() != '=') return fail(i, "expected = after the value name");
    line = trim_left(line.substr(1));

    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;
    if (!line.empty() && line.front() == '"') {
      std::string s;
      if (!parse_quoted(line, s, what)) return fail(i, what);
      if (!trim_right(line).empty()) return fail(i, "unexpected text after the closing quote");
      type = kRegSz;
      data.assign(s.begin(), s.end());
      data.push_back(0);
    } else if (!line.empty() && line.front() == '-') {
      return fail(i, "value deletion is not supported in a hive file");
    } else if (starts_with_folded(line, "dword:")) {
      std::uint32_t v = 0;
      if (!parse_hex_number(trim_right(line.substr(6)), 8, v)) {
        return fail(i, "bad dword: expected 1 to 8 hex digits after dword:");
      }
      type = kRegDword;
      data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
              static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    } else if (starts_with_folded(line, "hex")) {
      line.remove_prefix(3);
      if (!line.empty() && line.front() == '(') {
        std::size_t close = line.find(')');
        if (close == std::string_view::npos ||
            !parse_hex_number(line.substr(1, close - 1), 8, type)) {
          return fail(i, "bad hex type: expected hex(N): with N in hex");
        }
        line.remove_prefix(close + 1);
      } else {
        type = kRegBinary;
      }
      if (line.empty() || line.front() != ':') return fail(i, "bad hex: expected : after hex");
      line.remove_prefix(1);

      std::string list;
      while (true) {
        std::string_view part = trim_right(line);
        if (part.empty() || part.back() != '\\') {
          list += part;
          break;
        }
        part.remove_suffix(1);
        list += part;
        if (i + 1 >= lines.size()) return fail(i, "bad hex: continued past the end of the file");
        line = trim_left(lines[++i]);
      }
      std::string_view rest = trim_left(std::string_view(list));
      while (!rest.empty()) {
        std::size_t comma = rest.find(',');
        std::string_view token = trim_right(trim_left(rest.substr(0, comma)));
        std::uint32_t byte = 0;
        if (!parse_hex_number(token, 2, byte)) {
          return fail(first_line, "bad hex: \"" + std::string(token) + "\" is not a hex byte");
        }
        data.push_back(static_cast<std::uint8_t>(byte));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
        if (trim_left(rest).empty()) return fail(first_line, "bad hex: a comma ends the list");
      }
    } else {
      return fail(i, "bad value data: expected \"text\", dword:, hex: or hex(N):");
    }

    if (!fresh.set_value(*current, name, type, std::move(data), &what))
      return fail(first_line, what);
  }

  roots_.swap(fresh.roots_);
  return true;
}

bool Hive::save(const std::string& path, std::string& error) const {
  const std::string content = text();
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (dir.empty()) dir = "/";
  std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";

  auto fail = [&](const char* step, int fd) {
    error = path + ": cannot save the registry (" + step + "): " + std::strerror(errno);
    int saved = errno;
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    errno = saved;
    return false;
  };

  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = path + ": cannot save the registry (create a temporary file): " + std::strerror(errno);
    return false;
  }
  // Keep the old file's permissions; a new file gets the usual 0644.
  struct stat old {};
  mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) return fail("set permissions", fd);

  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("write", fd);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("flush", fd);
  if (::close(fd) != 0) return fail("close", -1);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("rename", -1);

  // Make the rename itself durable; a folder that cannot be synced still
  // holds the new file.
  int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

std::optional<std::uint32_t> read_dword(const Key& key, std::string_view name) {
  const Value* value = key.find_value(name);
  if (value == nullptr || value->type != kRegDword || value->data.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(value->data[0]) |
         static_cast<std::uint32_t>(value->data[1]) << 8 |
         static_cast<std::uint32_t>(value->data[2]) << 16 |
         static_cast<std::uint32_t>(value->data[3]) << 24;
}

std::optional<std::string> read_string(const Key& key, std::string_view name) {
  const Value* value = key.find_value(name);
  if (value == nullptr || (value->type != kRegSz && value->type != kRegExpandSz))
    return std::nullopt;
  std::string text(value->data.begin(), value->data.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace qzr::nt::registry
