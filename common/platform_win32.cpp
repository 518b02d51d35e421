#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "common/catalogue.h"
#include "common/platform.h"

namespace murve {

// Made by the build from po/ja.po (cmake/embed-catalogue.cmake).
extern const unsigned char k_catalogue_ja[];
extern const std::size_t k_catalogue_ja_size;

namespace {

bool output_was_closed = false;
Catalogue chosen_catalogue;

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

// The code page of text on a standard stream that is not a console: the console's output code
// page, or without a console the one a console would get, the system locale's OEM code page.
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

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool write_as_is(std::FILE* stream, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
         std::ferror(stream) == 0;
}

// UTF-8 to a console in characters, whatever its code page.
bool write_to_console(std::FILE* stream, HANDLE console, std::string_view text) {
  if (std::fflush(stream) != 0) {
    return false;
  }
  const std::wstring wide = widened(text);
  DWORD written = 0;
  if (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) ==
      0) {
    errno = EIO;
    return false;
  }
  return true;
}

// Whether `text` reaches standard output and standard error whole: each is a console, or the
// output code page has every character of it.
bool output_shows(std::string_view text) {
  const bool whole = narrowed(widened(text), output_code_page()).whole;
  return whole || (console_of(stdout) != nullptr && console_of(stderr) != nullptr);
}

}  // namespace

std::string prepare_standard_streams() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  output_was_closed = output == nullptr || output == INVALID_HANDLE_VALUE;
  // Text mode would turn every "\n" into "\r\n"; the output is to be the same bytes everywhere.
  _setmode(_fileno(stdout), _O_BINARY);
  // Windows has no line buffering (_IOLBF buffers fully there): no buffer at all, so that what
  // was printed is out even when the run is stopped.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return "";
}

bool standard_output_was_closed() {
  return output_was_closed;
}

bool is_terminal(std::FILE* stream) {
  // _isatty is true of NUL and of a printer too; only a console takes escape sequences.
  return console_of(stream) != nullptr;
}

bool write_text(std::FILE* stream, std::string_view text) {
  if (is_ascii(text)) {
    return write_as_is(stream, text);
  }
  if (const HANDLE console = console_of(stream); console != nullptr) {
    return write_to_console(stream, console, text);
  }
  return write_as_is(stream, narrowed(widened(text), output_code_page()).text);
}

bool write_bytes(std::FILE* stream, std::string_view bytes) {
  if (const HANDLE console = console_of(stream); console != nullptr && !is_ascii(bytes)) {
    return write_to_console(stream, console, bytes);
  }
  return write_as_is(stream, bytes);
}

std::string encoded_for_output(std::string_view text) {
  return narrowed(widened(text), output_code_page()).text;
}

bool text_goes_out_in_utf8(std::FILE* stream) {
  return console_of(stream) != nullptr || output_code_page() == CP_UTF8;
}

const std::string& program_folder() {
  // Nothing asks on Windows: the catalogue is built in, and the example comes beside the program.
  static const std::string folder;
  return folder;
}

void choose_message_language() {
  // Redirected in a code page without kana, Japanese would be all '?': English says more.
  if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE &&
      output_shows("日本語のメッセージを表示します")) {
    chosen_catalogue = Catalogue({k_catalogue_ja, k_catalogue_ja_size});
  }
}

const char* translated(const char* text) {
  return chosen_catalogue.translate(text);
}

std::optional<std::string> in_character_set(std::string_view text) {
  return std::string(text);
}

bool messages_in_utf8() {
  return true;
}

ConsoleState console_state() {
  std::array<DWORD, 2> processes{};
  // The count even when the list does not fit; 0 without a console.
  const DWORD count = GetConsoleProcessList(processes.data(), processes.size());
  return {static_cast<unsigned>(count), console_of(stdin) != nullptr, console_of(stdout) != nullptr,
          console_of(stderr) != nullptr};
}

void wait_for_enter(std::chrono::milliseconds bound) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input);
  const auto end = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || WaitForSingleObject(input, static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
      return;
    }
    // A console's input holds mouse, focus and window events too; only the Enter key counts.
    INPUT_RECORD record{};
    DWORD read = 0;
    if (ReadConsoleInputW(input, &record, 1, &read) == 0) {
      return;
    }
    if (read == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
        record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
      return;
    }
  }
}

}  // namespace murve
