#pragma once

#include <string_view>

namespace murve {

// The usage text as UTF-8, for POSIX consoles and Windows consoles set to code page 65001.
std::string_view usage_text_utf8();

// The same text in Shift_JIS (code page 932), for other Windows consoles.
std::string_view usage_text_shift_jis();

// Prints the usage text in the encoding the console expects.
void print_usage_text();

}  // namespace murve
