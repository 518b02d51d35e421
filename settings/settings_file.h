#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "settings/color_image.h"
#include "settings/unique_file.h"

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
  // Reads no more than `limit` bytes of the file: past them, it ends and too_large() says so.
  explicit SettingsLineReader(std::FILE* file, std::size_t limit = SIZE_MAX)
      : file_(file), limit_(limit) {}

  // Reads the next line into `line` as NUL-terminated text of at most k_max_line_read
  // characters; gives false at the end of the file.
  bool read_line(LineBuffer& line);

  // The line of the file, counted from 1, that the text last read belongs to; the parts of a line
  // longer than one read all belong to the same line.
  std::size_t line_number() const { return line_number_; }

  // The errno of a read error that ended the file early; 0 when there was none.
  int read_error() const { return read_error_; }

  // Whether the file went on past the limit.
  bool too_large() const { return too_large_; }

 private:
  int next_char();
  int peek_raw();

  std::FILE* file_;
  std::size_t limit_;
  std::size_t bytes_read_ = 0;
  bool too_large_ = false;
  std::array<char, 65536> chunk_{};
  std::size_t chunk_pos_ = 0;
  std::size_t chunk_end_ = 0;
  bool ended_ = false;
  int read_error_ = 0;
  std::size_t line_number_ = 0;
  bool at_line_start_ = true;
};

// Splits `line` in place at runs of "=, \t\n", up to its first NUL, into at most
// k_max_line_tokens tokens; gives the count.
std::size_t tokenize_settings_line(char* line, LineTokens& tokens);

enum class SettingsFailure {
  none,
  cannot_open,  // the file can't be opened, or is no settings file (`refusal` says why)
  bad_line,     // a line whose first token names no comment and no table
};

// Why a file that opened is no settings file.
enum class SettingsRefusal {
  none,
  folder,     // error_number is EISDIR
  too_large,  // its text goes on past k_max_settings_size bytes
};

// No settings file is this long (the example is 4 KiB): whatever the file is, a regular file, a
// pipe or /dev/zero, its text is read up to this many bytes and refused if it goes on.
inline constexpr std::size_t k_max_settings_size = std::size_t{1} << 20;

// A word of an accepted line that is read otherwise than it looks.
enum class SettingsWarningKind {
  not_a_number,                // a value without hex digits: 00 is stored
  partly_a_number,             // a value with more after its digits: the number before it is stored
  above_ff,                    // a value above ff: its low byte is stored
  below_zero,                  // a negative value: its low byte is stored
  beyond_32_bits,              // a value held at a signed 32-bit limit, whose low byte is stored
  comment_read_as_values,      // a "#" word on a table line: it and the words after it are values
  comment_as_color_value,      // a "#" word as a colour code's value: 00 is stored
  comment_ignored,             // a "#" word after a colour code's value: ignored with what follows
  words_after_color_value,     // words after a colour code's value: ignored
  carriage_return,             // a CR without an LF in a line: it ends no line
  carriage_return_in_comment,  // the same in a comment, which takes in what follows the CR
  read_as_code_0,              // a first word of "c" and no number, not "cspec": colour code 0
  full_width_space,            // a word with U+3000 in it, which separates no words
  no_break_space,              // a word with U+00A0 in it, the same
};

struct SettingsWarning {
  std::size_t line_number = 0;
  SettingsWarningKind kind = SettingsWarningKind::not_a_number;
  std::string token;                    // the word, or the first of the words, warned about
  std::size_t read_length = 0;          // partly_a_number: the characters the number is read from
  std::vector<std::uint8_t> stored;     // the value bytes the word, or the words from it on, give
  std::vector<std::uint8_t> character;  // full_width_space, no_break_space: its bytes in the file
};

// What a line's first token makes of the line.
enum class SettingsLineKind { blank, comment, color_code, table, rejected };

// A byte a line sets: `value` into byte `byte_index` of `table`, fill bytes counted.
struct SettingsWrite {
  const ColorTable* table;
  std::size_t byte_index;
  std::uint8_t value;
};

// The most writes one line makes: a table line sets at most every byte of its table.
inline constexpr std::size_t k_max_line_writes =
    std::max({k_table2608.size(), k_table2151.size(), k_spec_table.size()});

// One line as read: the bytes it sets, and what in it is read otherwise than it looks.
struct SettingsLine {
  SettingsLineKind kind = SettingsLineKind::blank;
  std::array<SettingsWrite, k_max_line_writes> writes;  // the first write_count, in line order
  std::size_t write_count = 0;
  std::vector<SettingsWarning> warnings;  // their line_number is left to the reader
};

// A rejected line sets nothing; a lone CR in the text explains the whole line, so it warns alone.
SettingsLine interpret_settings_line(std::span<const char* const> tokens,
                                     bool lone_carriage_return = false);

// Applies one line's tokens to the image; gives false when the first token names no comment and
// no table (the line is rejected, and the image is as it was).
bool apply_settings_line(std::span<const char* const> tokens, ColorImage& image);

// Warnings beyond this many are counted, not kept, so that a huge file stays cheap to read.
inline constexpr std::size_t k_max_settings_warnings = 20;

// The warnings of a file, as the lines were read.
struct SettingsWarnings {
  std::vector<SettingsWarning> kept;  // the first k_max_settings_warnings, in file order
  std::size_t count = 0;              // all of them

  void add(SettingsWarning warning);
};

// How reading a settings file went, with what a person needs to find the fault.
struct SettingsOutcome {
  SettingsFailure failure = SettingsFailure::none;
  int error_number = 0;         // cannot_open: why; otherwise a read error that ended the file
  std::size_t line_number = 0;  // bad_line, or the line a read error stopped at
  std::string first_token;      // bad_line: the token that names no line kind
  SettingsRefusal refusal = SettingsRefusal::none;  // cannot_open: a file that opened

  bool byte_order_mark = false;  // the file begins with a UTF-8 byte-order mark
  SettingsWarnings warnings;     // for the lines read, up to a rejected one

  bool ok() const { return failure == SettingsFailure::none; }
};

// Reads every line of an open settings file into the image, up to the first rejected line, and
// up to `limit` bytes: a file whose text goes on past them is refused (the cut line is not read).
SettingsOutcome read_settings(std::FILE* file, ColorImage& image, std::size_t limit = SIZE_MAX);

// Opens, reads and closes the settings file; refuses a folder, and text beyond
// k_max_settings_size bytes. A device or a pipe is read like a file: /dev/null is empty.
SettingsOutcome load_settings_file(const std::string& settings_path, ColorImage& image);

}  // namespace murve
