#include "settings/number_reading.h"

#include <limits>

namespace murve {
namespace {

constexpr std::int64_t k_magnitude_limit =
    static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c, int base) {
  const int value = hex_digit_value(c);
  return value < base ? value : -1;
}

HexReading read_integer(const char* text, int base) {
  HexReading reading;
  const char* p = text;
  while (is_white_space(*p)) {
    ++p;
  }
  reading.start = static_cast<std::size_t>(p - text);
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // "0x" with no hex digit after it reads as 0 either way, so the prefix can be skipped blindly.
  if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
  }
  std::int64_t magnitude = 0;
  for (int digit = digit_value(*p, base); digit >= 0; digit = digit_value(*++p, base)) {
    reading.has_digits = true;
    // Held at one past INT32_MAX, which is enough to saturate either way without overflowing.
    magnitude = magnitude * base + digit;
    if (magnitude > k_magnitude_limit) {
      magnitude = k_magnitude_limit;
      reading.saturated = true;
    }
  }
  reading.length = static_cast<std::size_t>(p - text);
  if (negative) {
    reading.value = static_cast<std::int32_t>(-magnitude);
  } else if (magnitude > std::numeric_limits<std::int32_t>::max()) {
    reading.value = std::numeric_limits<std::int32_t>::max();
    reading.saturated = true;
  } else {
    reading.value = static_cast<std::int32_t>(magnitude);
  }
  return reading;
}

}  // namespace

int hex_digit_value(char c, HexLetters letters) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F' && letters == HexLetters::either_case) {
    return c - 'A' + 10;
  }
  return -1;
}

std::int32_t read_decimal(const char* text) {
  return read_integer(text, 10).value;
}

std::int32_t read_hex(const char* text) {
  return read_integer(text, 16).value;
}

HexReading scan_hex(const char* text) {
  return read_integer(text, 16);
}

}  // namespace murve
