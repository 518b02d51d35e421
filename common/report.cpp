#include "common/report.h"

#include <algorithm>
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

#ifdef _WIN32

// The stream's console, or nullptr when it goes elsewhere.
HANDLE console_of(std::FILE* stream) {
  const int fd = _fileno(stream);
  // A program started without the stream has no descriptor for it (-2).
  const HANDLE handle =
      fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

std::wstring widened(std::string_view text) {
  const int size = static_cast<int>(text.size());
  const int length = size == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  }
  return wide;
}

struct Narrowed {
  std::string text;
  bool whole = true;  // no character replaced
};

// `wide` in `code_page`, with '?' for a character it lacks; no best fit, which would show
// another character ("a" for "ä") as if it were the one meant.
Narrowed narrowed(std::wstring_view wide, unsigned code_page) {
  Narrowed result;
  const int size = static_cast<int>(wide.size());
  if (size == 0) {
    return result;
  }
  BOOL replaced = FALSE;
  const bool utf8 = code_page == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* replacement = utf8 ? nullptr : "?";
  BOOL* replacing = utf8 ? nullptr : &replaced;
  int length =
      WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, replacement, replacing);
  if (length == 0 && !utf8) {
    // GB18030, ISO-2022-JP and the like take neither flags nor a replacement character.
    flags = 0;
    replacement = nullptr;
    replacing = nullptr;
    length = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  }
  if (length == 0) {
    code_page = CP_UTF8;  // a code page that is not installed
    length = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  }
  result.text.resize(static_cast<std::size_t>(std::max(length, 0)));
  if (length > 0) {
    WideCharToMultiByte(code_page, flags, wide.data(), size, result.text.data(), length,
                        replacement, replacing);
  }
  result.whole = replaced == FALSE;
  return result;
}

// UTF-8 text to `stream` as it takes it (see report.h); false, with errno, when the write failed.
bool write_text(std::FILE* stream, std::string_view text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  }
  const std::wstring wide = widened(text);
  if (const HANDLE console = console_of(stream); console != nullptr) {
    if (std::fflush(stream) != 0) {
      return false;
    }
    DWORD written = 0;
    if (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) ==
        0) {
      errno = EIO;
      return false;
    }
    return true;
  }
  const std::string converted = narrowed(wide, output_code_page()).text;
  return std::fwrite(converted.data(), 1, converted.size(), stream) == converted.size();
}
#endif

void keep_output_failure(bool written) {
  if (!written && first_output_error == 0) {
    first_output_error = errno != 0 ? errno : EIO;
  }
}

}  // namespace

std::string printable(std::string_view text) {
  const bool utf8 = messages_in_utf8();
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
  return console_of(stream) != nullptr;
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
#ifdef _WIN32
  const bool written = write_text(stdout, format_text_list(format, arguments));
#else
  const bool written = std::vfprintf(stdout, format, arguments) >= 0;
#endif
  va_end(arguments);
  keep_output_failure(written);
}

void print_output_bytes(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const bool written = std::vfprintf(stdout, format, arguments) >= 0;
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
#ifdef _WIN32
  write_text(stderr, text);
#else
  std::fputs(text.c_str(), stderr);
#endif
}

std::string encoded_for_output(std::string_view text) {
#ifdef _WIN32
  return narrowed(widened(text), output_code_page()).text;
#else
  return std::string(text);
#endif
}

#ifdef _WIN32
unsigned output_code_page() {
  static const unsigned code_page = [] {
    if (const UINT console = GetConsoleOutputCP(); console != 0) {
      return console;
    }
    // Not GetOEMCP(): the manifest makes it UTF-8, as it does the process's own code page.
    DWORD system = 0;
    const int got =
        GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTCODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&system), sizeof system / sizeof(WCHAR));
    // A locale of Unicode alone has no OEM code page (CP_OEMCP).
    return got != 0 && system > CP_OEMCP ? static_cast<UINT>(system) : UINT{CP_UTF8};
  }();
  return code_page;
}

bool output_shows(std::string_view text) {
  const bool whole = narrowed(widened(text), output_code_page()).whole;
  return whole || (console_of(stdout) != nullptr && console_of(stderr) != nullptr);
}
#endif

}  // namespace murve
