#pragma once

#include <cstdarg>
#include <string>

namespace murve {

// printf into a string, of any length.
[[gnu::format(printf, 1, 2)]] std::string format_text(const char* format, ...);

// The same with the arguments as a va_list, which it uses up.
[[gnu::format(printf, 1, 0)]] std::string format_text_list(const char* format,
                                                           std::va_list arguments);

// A device address as the messages write it: "0x0c4".
std::string hex_address(unsigned address);

}  // namespace murve
