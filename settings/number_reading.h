#pragma once

#include <cstddef>
#include <cstdint>

namespace murve {

// Both readers skip leading white space (space, \t, \n, \v, \f, \r), take an optional sign and
// the longest run of digits, ignore the rest, give 0 when there are no digits, and saturate at
// the signed 32-bit limits. They behave the same on every platform, unlike strtol, whose long is
// 32 bits on Windows and 64 bits on Linux.

// Which letters a hex digit may be.
enum class HexLetters { either_case, lower_case };

// The value of the hex digit `c`, 0 to 15, or -1 when it is none.
int hex_digit_value(char c, HexLetters letters = HexLetters::either_case);

// Reads a decimal integer from the start of `text`.
std::int32_t read_decimal(const char* text);

// Reads a hexadecimal integer from the start of `text`; digits may be of either case and may
// follow an optional "0x" or "0X".
std::int32_t read_hex(const char* text);

// What read_hex makes of `text`, and how much of it.
struct HexReading {
  std::int32_t value = 0;
  std::size_t start = 0;    // where the sign or number begins, after the white space
  std::size_t length = 0;   // how many characters are read, up to the end of the digits
  bool has_digits = false;  // false: the value is 0 for want of digits
  bool saturated = false;   // beyond the signed 32-bit range, and held at its nearest limit
};
HexReading scan_hex(const char* text);

}  // namespace murve
