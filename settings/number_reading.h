#pragma once

#include <cstdint>

namespace murve {

// Both readers skip leading white space (space, \t, \n, \v, \f, \r), take an optional sign and
// the longest run of digits, ignore the rest, give 0 when there are no digits, and saturate at
// the signed 32-bit limits. They behave the same on every platform, unlike strtol, whose long is
// 32 bits on Windows and 64 bits on Linux.

// Reads a decimal integer from the start of `text`.
std::int32_t read_decimal(const char* text);

// Reads a hexadecimal integer from the start of `text`; digits may be of either case and may
// follow an optional "0x" or "0X".
std::int32_t read_hex(const char* text);

}  // namespace murve
