#include "common/report.h"

#include <cstdio>

#include "settings/text_format.h"

namespace murve {

std::string printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte > 0x7e) {
      shown += format_text("\\x%02x", byte);
    } else {
      shown += c;
    }
  }
  return shown;
}

void report_problem(const char* program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program, text.c_str());
}

}  // namespace murve
