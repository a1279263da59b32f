// The registry of one machine: an in-memory tree of keys under the root
// keys, kept on disk as a REGEDIT4 text file.
//
// Choices where the platform leaves things to us:
// - Key and value names compare case-insensitively in ASCII (bytes above
//   0x7F compare exactly) and keep the case they were created with.
// - Subkeys and values keep their creation order, which is also the order
//   of the file, so a load followed by a save reproduces the file.
// - A value's data is kept as the raw bytes the caller gave, whatever its
//   type: a REG_SZ need not end in a zero. Names may hold any byte but CR,
//   LF and NUL (a name with a line break could not be written back).
// - The file: the line "REGEDIT4", a blank line, then one section
//   "[ROOT\path]" for every key that has values or no subkeys (its parents
//   are implied), each followed by its values and a blank line. Lines end
//   in CRLF when written; CRLF or LF are read. Strings that are text plus
//   one terminating zero are written "quoted" (\\ and \" escaped); a
//   4-byte REG_DWORD as dword:xxxxxxxx; everything else as hex(type):
//   (hex: for REG_BINARY), with long lines continued by ",\" and a line
//   indented by two spaces, no line longer than 80 columns unless a long
//   value name leaves no room.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::nt::registry {

// Registry value types, with Windows' numbers.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Windows' own limits on names and nesting.
inline constexpr std::size_t kMaxKeyNameBytes = 255;
inline constexpr std::size_t kMaxValueNameBytes = 16383;
inline constexpr std::size_t kMaxKeyDepth = 512;
// Ours: larger values belong in files, as Windows advises; a hive file
// larger than kMaxFileBytes is refused rather than read.
inline constexpr std::size_t kMaxValueBytes = 1024 * 1024;
inline constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

struct Value {
  std::string name;  // empty: the key's default value
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

class Key {
 public:
  Key(std::string name, Key* parent) : name_(std::move(name)), parent_(parent) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  const std::string& name() const { return name_; }
  Key* parent() const { return parent_; }
  // The full path, root name first: "HKEY_LOCAL_MACHINE\SYSTEM\...".
  std::string path() const;

  Key* find_subkey(std::string_view name) const;
  const Value* find_value(std::string_view name) const;
  const std::vector<std::unique_ptr<Key>>& subkeys() const { return subkeys_; }
  const std::vector<Value>& values() const { return values_; }

 private:
  friend class Hive;
  std::string name_;
  Key* parent_;
  std::vector<std::unique_ptr<Key>> subkeys_;
  std::vector<Value> values_;
};

class Hive {
 public:
  // The root keys in the order they are written.
  static constexpr std::string_view kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                    "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

  Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // A root key by its full name (case-insensitive); null if there is none.
  Key* root(std::string_view name) const;

  // Paths are "ROOT\a\b" (a full path) or, with a key given, "a\b" below
  // it. find_key gives null when a part is missing; create_key creates the
  // missing parts and gives null (with `error`) for a path it cannot hold:
  // an unknown root, an empty part, a name too long or with CR/LF, too deep.
  Key* find_key(std::string_view path) const;
  Key* find_key(const Key& from, std::string_view relative) const;
  Key* create_key(std::string_view path, std::string* error = nullptr);
  Key* create_key(Key& from, std::string_view relative, std::string* error = nullptr,
                  bool* created = nullptr);

  // Sets (or replaces, keeping its place) a value; false with `error` for a
  // bad name or data above kMaxValueBytes.
  bool set_value(Key& key, std::string_view name, std::uint32_t type,
                 std::vector<std::uint8_t> data, std::string* error = nullptr);
  const Value* query_value(const Key& key, std::string_view name) const;
  bool delete_value(Key& key, std::string_view name);
  const std::vector<std::unique_ptr<Key>>& subkeys(const Key& key) const { return key.subkeys(); }
  const std::vector<Value>& values(const Key& key) const { return key.values(); }

  // Replaces the whole tree with the file's; on any fault the hive is left
  // as it was and `error` reads "FILE:LINE: what is wrong".
  bool load(const std::string& path, std::string& error);
  bool parse(std::string_view text, const std::string& file_name, std::string& error);

  // The REGEDIT4 text of the whole tree.
  std::string text() const;
  // Writes text() atomically: a temporary file in the same folder, flushed
  // to disk, renamed over `path`. On failure the old file is untouched and
  // no temporary is left behind.
  bool save(const std::string& path, std::string& error) const;

  static bool names_equal(std::string_view a, std::string_view b);
  static bool valid_key_name(std::string_view name);
  static bool valid_value_name(std::string_view name);

 private:
  std::vector<std::unique_ptr<Key>> roots_;
};

// Typed reads for the machine's own use (boot reads the service keys):
// a REG_DWORD of 4 bytes; a REG_SZ or REG_EXPAND_SZ up to its first zero
// (unexpanded). Nothing for a missing value or another type.
std::optional<std::uint32_t> read_dword(const Key& key, std::string_view name);
std::optional<std::string> read_string(const Key& key, std::string_view name);

}  // namespace qzr::nt::registry
