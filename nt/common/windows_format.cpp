#include "nt/common/windows_format.h"

#include <cstdio>
#include <vector>

namespace qzr::nt {

std::string format_windows(const char* format, va_list arguments) {
  std::string out;
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    // Collect "%[flags][width][.precision]" and translate the length modifier.
    std::string directive = "%";
    ++p;
    while (*p != '\0' && std::string("-+ #0").find(*p) != std::string::npos) directive += *p++;
    while (*p >= '0' && *p <= '9') directive += *p++;
    if (*p == '.') {
      directive += *p++;
      while (*p >= '0' && *p <= '9') directive += *p++;
    }
    int longs = 0;
    bool half = false;
    while (*p == 'l' || *p == 'h') {
      if (*p == 'l') ++longs;
      if (*p == 'h') half = true;
      ++p;
    }
    char conversion = *p;
    if (conversion == '\0') break;
    ++p;
    char piece[128];
    switch (conversion) {
      case '%':
        out += '%';
        continue;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o':
      case 'c':
        if (longs >= 2) {
          std::string s = directive + "ll" + conversion;
          std::snprintf(piece, sizeof piece, s.c_str(), va_arg(arguments, long long));
        } else {
          // 'l' is 32 bits on Windows: the argument was passed as an int.
          std::string s = directive + (half ? "h" : "") + conversion;
          std::snprintf(piece, sizeof piece, s.c_str(), va_arg(arguments, int));
        }
        out += piece;
        break;
      case 's': {
        const char* text = va_arg(arguments, const char*);
        std::string s = directive + 's';
        std::vector<char> buffer(std::string(text ? text : "(null)").size() + 256);
        std::snprintf(buffer.data(), buffer.size(), s.c_str(), text ? text : "(null)");
        out += buffer.data();
        break;
      }
      case 'p':
        std::snprintf(piece, sizeof piece, "%p", va_arg(arguments, void*));
        out += piece;
        break;
      default:
        out += directive + conversion;  // unknown: shown as written
        break;
    }
  }
  return out;
}

}  // namespace qzr::nt
