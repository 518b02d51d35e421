#include "common/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "common/platform.h"
#include "settings/text_format.h"

namespace murve {
namespace {

constexpr std::size_t k_quoted_word_limit = 40;

int first_output_error = 0;

std::string escaped(unsigned char byte) {
  switch (byte) {
    case '\n':
      return "\\n";
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

// The length of the well-formed UTF-8 sequence at the start of `text`, with its code point, or 0
// when it is not one (overlong, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8_character(std::string_view text, char32_t& code) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
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
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
    return 0;
  }
  return length;
}

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one or it is a C1
// control character or invisible.
std::size_t utf8_sequence(std::string_view text) {
  char32_t code = 0;
  const std::size_t length = utf8_character(text, code);
  return length > 0 && code > 0x9f && !is_invisible(code) ? length : 0;
}

// A JSON string's contents: quotes, backslashes, control and invisible characters escaped, and
// each byte that is not UTF-8 as U+FFFD, so that any parser takes the line.
std::string json_contents(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    char32_t code = byte;
    const std::size_t length = byte < 0x80 ? 1 : utf8_character(text.substr(at), code);
    if (length == 0) {
      shown += "\\ufffd";
      ++at;
      continue;
    }
    if (code == '"' || code == '\\') {
      shown += '\\';
      shown += static_cast<char>(code);
    } else if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || is_invisible(code)) {
      shown += format_text("\\u%04x", static_cast<unsigned>(code));
    } else {
      shown.append(text, at, length);
    }
    at += length;
  }
  return shown;
}

// How many bytes at the start of `text` are kept for `reader` as they are; 0: the first byte is
// shown otherwise.
std::size_t kept_length(std::string_view text, PrintableFor reader) {
  const auto byte = static_cast<unsigned char>(text[0]);
  if (byte >= 0x20 && byte < 0x7f) {
    return 1;
  }
  switch (reader) {
    case PrintableFor::message:
      return byte >= 0x80 && messages_in_utf8() ? utf8_sequence(text) : 0;
    case PrintableFor::terminal:
      if (byte == '\n' || byte == '\t') {
        return 1;
      }
      if (byte == '\r' && text.substr(0, 2) == "\r\n") {
        return 2;
      }
      return byte >= 0x80 ? utf8_sequence(text) : 0;
    case PrintableFor::file_comment:
      return byte >= 0x80 ? 1 : 0;
    case PrintableFor::listing:
    case PrintableFor::json:
      break;
  }
  return 0;
}

void keep_output_failure(bool written) {
  if (!written && first_output_error == 0) {
    first_output_error = errno != 0 ? errno : EIO;
  }
}

}  // namespace

std::string printable(std::string_view text, PrintableFor reader) {
  if (reader == PrintableFor::json) {
    return json_contents(text);
  }
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    if (const std::size_t length = kept_length(text.substr(at), reader); length > 0) {
      shown.append(text, at, length);
      at += length;
    } else {
      shown +=
          reader == PrintableFor::listing ? "." : escaped(static_cast<unsigned char>(text[at]));
      ++at;
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

std::string shown_on_output(std::string_view text) {
  static const bool terminal = is_terminal(stdout);
  return terminal ? printable(text, PrintableFor::terminal) : std::string(text);
}

void print_output(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const bool written = write_text(stdout, format_text_list(format, arguments));
  va_end(arguments);
  keep_output_failure(written);
}

void print_output_bytes(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const bool written = write_bytes(stdout, format_text_list(format, arguments));
  va_end(arguments);
  keep_output_failure(written);
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
  print_error(std::string(program) + ": " + text + "\n");
}

void print_error(const std::string& text) {
  write_text(stderr, text);
}

}  // namespace murve
