#pragma once

#include <string_view>

namespace murve {

// The usage text as UTF-8, for Windows consoles set to code page 65001; on POSIX converted to
// the locale's character set where it has every character.
std::string_view usage_text_utf8();

// The same text in Shift_JIS (code page 932), for other Windows consoles.
std::string_view usage_text_shift_jis();

// Prints the usage text in the encoding the console expects: on Windows the fixed bytes, on POSIX
// the locale's.
void print_usage_text();

}  // namespace murve
