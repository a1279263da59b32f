// A small JSON writer for the tool's --json output: objects and arrays
// nested by calls, commas and indentation kept by the writer. Strings are
// escaped so that any byte gives valid JSON: controls and bytes above 0x7F
// (inquiry text is not UTF-8) become \u00XX.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qzr::qzrsim {

class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::uint64_t number);
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(unsigned number) { return value(static_cast<std::uint64_t>(number)); }
  JsonWriter& value(bool truth);
  JsonWriter& null();
  // A byte string as an array of numbers.
  JsonWriter& bytes(const std::uint8_t* data, std::size_t size);

  // The document, ending in a newline.
  std::string text() const { return out_ + "\n"; }

  static std::string quote(std::string_view text);

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);

  std::string out_;
  std::vector<bool> first_;  // per open level: nothing written in it yet
  bool after_key_ = false;
};

}  // namespace qzr::qzrsim
