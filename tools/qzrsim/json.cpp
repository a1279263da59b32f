#include "tools/qzrsim/json.h"

#include <cstdio>

namespace qzr::qzrsim {

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_ += ',';
  first_.back() = false;
  out_ += '\n';
  out_.append(first_.size() * 2, ' ');
}

void JsonWriter::open(char bracket) {
  before_value();
  out_ += bracket;
  first_.push_back(true);
}

void JsonWriter::close(char bracket) {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) {
    out_ += '\n';
    out_.append(first_.size() * 2, ' ');
  }
  out_ += bracket;
}

JsonWriter& JsonWriter::begin_object() {
  open('{');
  return *this;
}
JsonWriter& JsonWriter::end_object() {
  close('}');
  return *this;
}
JsonWriter& JsonWriter::begin_array() {
  open('[');
  return *this;
}
JsonWriter& JsonWriter::end_array() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  out_ += quote(name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  before_value();
  out_ += quote(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::uint64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool truth) {
  before_value();
  out_ += truth ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::bytes(const std::uint8_t* data, std::size_t size) {
  // One line: a 36-byte answer stays readable.
  before_value();
  out_ += '[';
  for (std::size_t i = 0; i < size; ++i) {
    if (i) out_ += ", ";
    out_ += std::to_string(data[i]);
  }
  out_ += ']';
  return *this;
}

std::string JsonWriter::quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace qzr::qzrsim
