#include "settings/text_format.h"

#include <cstdarg>
#include <cstdio>

namespace murve {

std::string format_text_list(const char* format, std::va_list arguments) {
  std::va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) {
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
  }
  return text;
}

std::string hex_address(unsigned address) {
  return format_text("0x%03x", address);
}

std::string format_text(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::string text = format_text_list(format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace murve
