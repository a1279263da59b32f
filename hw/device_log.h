// Diagnostic logging of a device by category. Off by default; a disabled
// category costs one mask test, and no text is built unless it is enabled.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string_view>

#include "hw/clock.h"

namespace qzr::hw {

namespace log_category {
constexpr std::uint32_t REGISTER_READ = 0x01;
constexpr std::uint32_t REGISTER_WRITE = 0x02;
constexpr std::uint32_t DMA = 0x04;
constexpr std::uint32_t ARBITRATION = 0x08;
constexpr std::uint32_t INTERRUPT = 0x10;
constexpr std::uint32_t ALL = 0x1F;
}  // namespace log_category

class DeviceLog {
 public:
  using Sink = std::function<void(std::string_view line)>;

  DeviceLog(const Clock& clock, const char* device) : clock_(clock), device_(device) {}

  void enable(std::uint32_t categories) { mask_ = categories; }
  std::uint32_t enabled() const { return mask_; }
  // Either sink; a line goes to both when both are set.
  void set_sink(Sink sink) { sink_ = std::move(sink); }
  void set_stream(std::ostream* stream) { stream_ = stream; }

  bool on(std::uint32_t category) const { return (mask_ & category) != 0; }

  // printf-style; callers test on() first so the arguments cost nothing when
  // the category is off.
  [[gnu::format(printf, 2, 3)]] void write(const char* format, ...) const {
    char text[256];
    const int prefix = std::snprintf(
        text, sizeof text, "[%14.6f ms] %s: ", static_cast<double>(clock_.now_ns()) / 1e6, device_);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + prefix, sizeof text - static_cast<std::size_t>(prefix), format, args);
    va_end(args);
    const std::string_view line(text);
    if (sink_) sink_(line);
    if (stream_) *stream_ << line << '\n';
  }

 private:
  const Clock& clock_;
  const char* device_;
  std::uint32_t mask_ = 0;
  Sink sink_;
  std::ostream* stream_ = nullptr;
};

}  // namespace qzr::hw
