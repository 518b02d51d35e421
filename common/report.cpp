#include "common/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "common/message.h"
#include "settings/text_format.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace murve {
namespace {

constexpr std::size_t k_quoted_word_limit = 40;

int first_output_error = 0;

std::string escaped(unsigned char byte) {
  switch (byte) {
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return format_text("\\x%02x", byte);
  }
}

// Characters that show nothing yet change what is shown: a byte-order mark, zero-width spaces,
// line and paragraph separators, and the marks that reorder text right to left.
bool is_invisible(char32_t code) {
  return code == 0xfeff || (code >= 0x200b && code <= 0x200f) ||
         (code >= 0x2028 && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069);
}

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one (overlong,
// a surrogate, beyond U+10FFFF, cut short) or it is a C1 control character or invisible.
std::size_t utf8_sequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
    code = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    code = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xc0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (next & 0x3f);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff) ||
      code <= 0x9f || is_invisible(code)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string printable(std::string_view text) {
  static const bool utf8 = messages_in_utf8();
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = utf8 && byte >= 0x80 ? utf8_sequence(text.substr(at)) : 0;
    if (length > 0) {
      shown.append(text, at, length);
      at += length;
    } else if (byte < 0x20 || byte > 0x7e) {
      shown += escaped(byte);
      ++at;
    } else {
      shown += text[at++];
    }
  }
  return shown;
}

std::string quoted_word(std::string_view text) {
  if (text.size() <= k_quoted_word_limit) {
    return printable(text);
  }
  std::size_t cut = k_quoted_word_limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
    --cut;  // not inside a character
  }
  return printable(text.substr(0, cut)) + "...";
}

bool is_terminal(std::FILE* stream) {
#ifdef _WIN32
  // _isatty is true of NUL and of a printer too; only a console takes escape sequences.
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
  return isatty(fileno(stream)) == 1;
#endif
}

std::string shown_on_output(std::string_view text) {
  static const bool terminal = is_terminal(stdout);
  return terminal ? escape_for_terminal(text) : std::string(text);
}

std::string escape_for_terminal(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool line_end = byte == '\n' || (byte == '\r' && text.substr(at, 2) == "\r\n");
    if (line_end || byte == '\t' || (byte >= 0x20 && byte < 0x7f)) {
      shown += text[at++];
    } else if (const std::size_t length = byte >= 0x80 ? utf8_sequence(text.substr(at)) : 0;
               length > 0) {
      shown.append(text, at, length);
      at += length;
    } else {
      shown += escaped(byte);
      ++at;
    }
  }
  return shown;
}

void print_output(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int printed = std::vfprintf(stdout, format, arguments);
  va_end(arguments);
  if (printed < 0 && first_output_error == 0) {
    first_output_error = errno != 0 ? errno : EIO;
  }
}

int output_failure() {
  if (std::fflush(stdout) != 0 && first_output_error == 0) {
    first_output_error = errno != 0 ? errno : EIO;
  }
  if (std::ferror(stdout) && first_output_error == 0) {
    first_output_error = EIO;
  }
  return first_output_error;
}

void report_problem(const char* program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program, text.c_str());
}

}  // namespace murve
