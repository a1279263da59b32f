#include "tools/qzrsim/cli.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace qzr::qzrsim {

Args::Args(std::vector<std::string> words) {
  const auto separator = std::find(words.begin(), words.end(), "--");
  if (separator != words.end()) {
    has_separator_ = true;
    tail_.assign(separator + 1, words.end());
    words.erase(separator, words.end());
  }
  words_ = std::move(words);
}

bool Args::flag(std::string_view name) {
  const auto before = words_.size();
  std::erase(words_, name);
  return words_.size() != before;
}

std::optional<std::string> Args::option(std::string_view name) {
  auto values = options(name);
  if (values.size() > 1) throw UsageError{std::string(name) + " given more than once"};
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::vector<std::string> Args::options(std::string_view name) {
  std::vector<std::string> values;
  for (std::size_t i = 0; i < words_.size();) {
    if (words_[i] != name) {
      ++i;
      continue;
    }
    if (i + 1 == words_.size()) throw UsageError{std::string(name) + " needs a value"};
    values.push_back(words_[i + 1]);
    words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i),
                 words_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return values;
}

std::vector<std::string> Args::positionals() {
  for (const auto& word : words_) {
    if (word.size() > 1 && word[0] == '-') throw UsageError{"unknown option '" + word + "'"};
  }
  return std::exchange(words_, {});
}

std::vector<std::string> Args::after_separator() {
  has_separator_ = false;
  return std::exchange(tail_, {});
}

void Args::finish() {
  if (!words_.empty()) {
    const auto& word = words_.front();
    if (word.size() > 1 && word[0] == '-') throw UsageError{"unknown option '" + word + "'"};
    throw UsageError{"unexpected argument '" + word + "'"};
  }
  if (has_separator_) throw UsageError{"this command takes nothing after '--'"};
}

std::uint64_t parse_number(std::string_view what, std::string_view text, std::uint64_t max) {
  int base = 10;
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [end, status] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || status != std::errc{} || end != digits.data() + digits.size() ||
      value > max) {
    throw UsageError{std::string(what) + " takes a number from 0 to " + std::to_string(max) +
                     ", not '" + std::string(text) + "'"};
  }
  return value;
}

}  // namespace qzr::qzrsim
