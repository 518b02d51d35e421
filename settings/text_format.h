#pragma once

#include <string>

namespace murve {

// printf into a string, of any length.
[[gnu::format(printf, 1, 2)]] std::string format_text(const char* format, ...);

}  // namespace murve
