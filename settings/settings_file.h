#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string>

#include "settings/color_image.h"

namespace murve {

// A read takes at most this many characters of a line, its line feed included; the rest of a
// longer line is read as a line of its own.
inline constexpr std::size_t k_max_line_read = 32766;
inline constexpr std::size_t k_max_line_tokens = 128;

using LineBuffer = std::array<char, k_max_line_read + 1>;
using LineTokens = std::array<const char*, k_max_line_tokens>;

// Reads a file as the C runtime's text mode does on Windows, on every platform: CR LF reads as
// LF, and a byte 0x1A ends the file. A read error counts as the end of the file.
class SettingsLineReader {
 public:
  explicit SettingsLineReader(std::FILE* file) : file_(file) {}

  // Reads the next line into `line` as NUL-terminated text of at most k_max_line_read
  // characters; gives false at the end of the file.
  bool read_line(LineBuffer& line);

 private:
  int next_char();
  int peek_raw();

  std::FILE* file_;
  std::array<char, 65536> chunk_{};
  std::size_t chunk_pos_ = 0;
  std::size_t chunk_end_ = 0;
  bool ended_ = false;
};

// Splits `line` in place at runs of "=, \t\n", up to its first NUL, into at most
// k_max_line_tokens tokens; gives the count.
std::size_t tokenize_settings_line(char* line, LineTokens& tokens);

// Applies one line's tokens to the image; gives false, having printed "??? [token]", when the
// first token names no comment and no table.
bool apply_settings_line(std::span<const char* const> tokens, ColorImage& image);

// Reads every line of an open settings file into the image; prints "config file error" and gives
// false at the first rejected line.
bool read_settings(std::FILE* file, ColorImage& image);

// Opens, reads and closes the settings file; prints "open error.[path]" when it can't be opened.
bool load_settings_file(const std::string& settings_path, ColorImage& image);

}  // namespace murve
