#include "settings/settings_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "settings/number_reading.h"

namespace murve {
namespace {

constexpr int k_end_of_file_byte = 0x1a;
constexpr std::string_view k_byte_order_mark = "\xef\xbb\xbf";
constexpr const char* k_token_delimiters = "=, \t\n";
constexpr std::int32_t k_table2608_keyword = 2608;
constexpr std::int32_t k_table2151_keyword = 2151;

std::uint8_t value_byte(const char* token) {
  return static_cast<std::uint8_t>(read_hex(token));
}

// What a line's first token makes of the line.
struct LineTarget {
  SettingsLineKind kind = SettingsLineKind::blank;
  const ColorTable* table = nullptr;  // table
  std::size_t color_code = 0;         // color_code
};

LineTarget line_target(std::span<const char* const> tokens) {
  if (tokens.empty()) {
    return {};
  }
  const char* keyword = tokens[0];
  if (keyword[0] == '#') {
    return {SettingsLineKind::comment};
  }
  if (keyword[0] != 'c') {
    return {SettingsLineKind::rejected};
  }
  if (std::strcmp(keyword, "cspec") == 0) {
    return {SettingsLineKind::table, &k_spec_table};
  }
  const std::int32_t number = read_decimal(keyword + 1);
  if (number >= 0 && static_cast<std::size_t>(number) < k_color_codes.entries) {
    return {SettingsLineKind::color_code, nullptr, static_cast<std::size_t>(number)};
  }
  if (number == k_table2608_keyword) {
    return {SettingsLineKind::table, &k_table2608};
  }
  if (number == k_table2151_keyword) {
    return {SettingsLineKind::table, &k_table2151};
  }
  return {SettingsLineKind::rejected};
}

SettingsWarning warning_of(SettingsWarningKind kind, const char* token = "",
                           std::vector<std::uint8_t> stored = {}) {
  SettingsWarning warning;
  warning.kind = kind;
  warning.token = token;
  warning.stored = std::move(stored);
  return warning;
}

// Whether read_decimal finds digits in `text`: "cSpec" and "colour" have none, and read as c0.
bool names_a_number(const char* text) {
  text += std::strspn(text, " \t\n\v\f\r");
  text += *text == '+' || *text == '-' ? 1 : 0;
  return *text >= '0' && *text <= '9';
}

// The length of the UTF-8 character that `text` begins with, or 0 when its bytes are none.
std::size_t utf8_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) {
      return 0;
    }
  }
  return length;
}

// Whether `text` begins with a Shift_JIS character of two bytes.
bool begins_shift_jis_pair(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const auto trail = text.size() > 1 ? static_cast<unsigned char>(text[1]) : 0;
  return ((lead >= 0x81 && lead <= 0x9f) || (lead >= 0xe0 && lead <= 0xfc)) &&
         ((trail >= 0x40 && trail <= 0x7e) || (trail >= 0x80 && trail <= 0xfc));
}

// Warns of a full-width or a no-break space in a word the line reads: an editor or an IME types
// one for a blank, and it looks like one, but only "=, \t\n" separate words. The bytes are read
// as UTF-8 where they are UTF-8, else as Shift_JIS, else as Latin-1.
void warn_of_wide_blank(const char* token, std::vector<SettingsWarning>& warnings) {
  const std::string_view text(token);
  for (std::size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    std::size_t length = utf8_length(text.substr(at));
    if (length == 0) {
      length = begins_shift_jis_pair(text.substr(at)) ? 2 : 1;
    }
    const std::string_view character = text.substr(at, length);
    const bool full_width = character == "\xe3\x80\x80" || character == "\x81\x40";
    if (full_width || character == "\xc2\xa0" || character == "\xa0") {
      SettingsWarning warning = warning_of(
          full_width ? SettingsWarningKind::full_width_space : SettingsWarningKind::no_break_space,
          token);
      warning.character.assign(character.begin(), character.end());
      warnings.push_back(std::move(warning));
      return;
    }
    at += length;
  }
}

bool is_comment_word(const char* token) {
  return token[0] == '#';
}

// The byte a value stores; a value that is not plainly a hex number from 00 to ff is warned of.
std::uint8_t read_value(const char* token, std::vector<SettingsWarning>& warnings) {
  warn_of_wide_blank(token, warnings);
  const HexReading reading = scan_hex(token);
  const auto byte = static_cast<std::uint8_t>(reading.value);
  SettingsWarningKind kind{};
  if (!reading.has_digits) {
    kind = SettingsWarningKind::not_a_number;
  } else if (reading.start != 0 || token[reading.length] != '\0') {
    kind = SettingsWarningKind::partly_a_number;
  } else if (reading.saturated) {
    kind = SettingsWarningKind::beyond_32_bits;
  } else if (reading.value > 0xff) {
    kind = SettingsWarningKind::above_ff;
  } else if (reading.value < 0) {
    kind = SettingsWarningKind::below_zero;
  } else {
    return byte;
  }
  SettingsWarning warning = warning_of(kind, token, {byte});
  if (kind == SettingsWarningKind::partly_a_number) {
    warning.read_length = reading.length;
  }
  warnings.push_back(std::move(warning));
  return byte;
}

void add_write(SettingsLine& line, const ColorTable& table, std::size_t byte_index,
               std::uint8_t value) {
  line.writes[line.write_count++] = {&table, byte_index, value};
}

// A colour code takes the first value; the words after it are ignored.
void interpret_color_value(std::size_t code, std::span<const char* const> values,
                           SettingsLine& line) {
  if (values.empty()) {
    return;
  }
  if (is_comment_word(values[0])) {
    const std::uint8_t byte = value_byte(values[0]);
    line.warnings.push_back(
        warning_of(SettingsWarningKind::comment_as_color_value, values[0], {byte}));
    add_write(line, k_color_codes, code, byte);
    return;
  }
  add_write(line, k_color_codes, code, read_value(values[0], line.warnings));
  if (values.size() > 1) {
    line.warnings.push_back(warning_of(is_comment_word(values[1])
                                           ? SettingsWarningKind::comment_ignored
                                           : SettingsWarningKind::words_after_color_value,
                                       values[1]));
  }
}

// Lays values into the table's value bytes in order, writing 0x00 into each fill byte as it is
// passed.
void interpret_table_values(const ColorTable& table, std::span<const char* const> values,
                            SettingsLine& line) {
  const auto used = values.first(std::min(values.size(), table.max_values()));
  // From a "#" word on, the values are warned of once, with the bytes they all store.
  const auto comment_at = static_cast<std::size_t>(
      std::find_if(used.begin(), used.end(), is_comment_word) - used.begin());
  std::vector<std::uint8_t> comment_bytes;
  std::size_t byte_index = 0;
  for (std::size_t j = 0; j < used.size(); ++j) {
    std::uint8_t byte = 0;
    if (j < comment_at) {
      byte = read_value(used[j], line.warnings);
    } else {
      byte = value_byte(used[j]);
      comment_bytes.push_back(byte);
    }
    add_write(line, table, byte_index++, byte);
    while (byte_index < table.size() && is_fill_byte(table, byte_index)) {
      add_write(line, table, byte_index++, 0x00);
    }
  }
  if (comment_at < used.size()) {
    line.warnings.push_back(warning_of(SettingsWarningKind::comment_read_as_values,
                                       used[comment_at], std::move(comment_bytes)));
  }
}

void apply_settings_writes(const SettingsLine& line, ColorImage& image) {
  for (std::size_t i = 0; i < line.write_count; ++i) {
    const SettingsWrite& write = line.writes[i];
    set_table_byte(image, *write.table, write.byte_index, write.value);
  }
}

}  // namespace

int SettingsLineReader::peek_raw() {
  if (chunk_pos_ == chunk_end_) {
    if (ended_) {
      return EOF;
    }
    chunk_pos_ = 0;
    errno = 0;
    chunk_end_ = std::fread(chunk_.data(), 1, chunk_.size(), file_);
    bytes_read_ += chunk_end_;
    if (bytes_read_ > limit_) {
      too_large_ = true;
      chunk_end_ = 0;
    }
    if (chunk_end_ == 0) {
      if (std::ferror(file_) != 0) {
        read_error_ = errno != 0 ? errno : EIO;
      }
      ended_ = true;
      return EOF;
    }
  }
  return static_cast<unsigned char>(chunk_[chunk_pos_]);
}

int SettingsLineReader::next_char() {
  int c = peek_raw();
  if (c == EOF || c == k_end_of_file_byte) {
    ended_ = true;
    chunk_pos_ = chunk_end_;
    return EOF;
  }
  ++chunk_pos_;
  if (c == '\r' && peek_raw() == '\n') {
    ++chunk_pos_;
    c = '\n';
  }
  return c;
}

bool SettingsLineReader::read_line(LineBuffer& line) {
  std::size_t length = 0;
  while (length < k_max_line_read) {
    const int c = next_char();
    if (c == EOF) {
      break;
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  line[length] = '\0';
  if (length == 0) {
    return false;
  }
  if (at_line_start_) {
    ++line_number_;
  }
  at_line_start_ = line[length - 1] == '\n';
  return true;
}

std::size_t tokenize_settings_line(char* line, LineTokens& tokens) {
  std::size_t count = 0;
  char* p = line;
  while (count < tokens.size()) {
    p += std::strspn(p, k_token_delimiters);
    if (*p == '\0') {
      break;
    }
    tokens[count++] = p;
    p += std::strcspn(p, k_token_delimiters);
    if (*p == '\0') {
      break;
    }
    *p++ = '\0';
  }
  return count;
}

SettingsLine interpret_settings_line(std::span<const char* const> tokens,
                                     bool lone_carriage_return) {
  SettingsLine line;
  const LineTarget target = line_target(tokens);
  line.kind = target.kind;
  const auto values = tokens.empty() ? tokens : tokens.subspan(1);
  if (target.kind == SettingsLineKind::color_code || target.kind == SettingsLineKind::table) {
    warn_of_wide_blank(tokens[0], line.warnings);
  }
  if (target.kind == SettingsLineKind::color_code) {
    if (!names_a_number(tokens[0] + 1)) {
      line.warnings.push_back(warning_of(SettingsWarningKind::read_as_code_0, tokens[0]));
    }
    interpret_color_value(target.color_code, values, line);
  } else if (target.kind == SettingsLineKind::table) {
    interpret_table_values(*target.table, values, line);
  }
  if (lone_carriage_return && target.kind != SettingsLineKind::rejected) {
    line.warnings.assign(1, warning_of(target.kind == SettingsLineKind::comment
                                           ? SettingsWarningKind::carriage_return_in_comment
                                           : SettingsWarningKind::carriage_return));
  }
  return line;
}

bool apply_settings_line(std::span<const char* const> tokens, ColorImage& image) {
  const SettingsLine line = interpret_settings_line(tokens);
  apply_settings_writes(line, image);
  return line.kind != SettingsLineKind::rejected;
}

void SettingsWarnings::add(SettingsWarning warning) {
  ++count;
  if (kept.size() < k_max_settings_warnings) {
    kept.push_back(std::move(warning));
  }
}

SettingsOutcome read_settings(std::FILE* file, ColorImage& image, std::size_t limit) {
  SettingsOutcome outcome;
  SettingsLineReader reader(file, limit);
  LineBuffer line;
  LineTokens tokens;
  std::size_t carriage_return_line = 0;  // a line read in parts is warned of once
  bool first_read = true;
  while (reader.read_line(line)) {
    if (reader.too_large()) {
      break;  // a line cut at the limit is not read: the file is refused
    }
    if (first_read && std::string_view(line.data()).starts_with(k_byte_order_mark)) {
      outcome.byte_order_mark = true;
    }
    first_read = false;
    // Tokenizing writes NULs into the line, so the CR is looked for first, as far as it reads.
    const bool lone_carriage_return = std::strchr(line.data(), '\r') != nullptr;
    const std::size_t count = tokenize_settings_line(line.data(), tokens);
    SettingsLine interpreted = interpret_settings_line(
        std::span<const char* const>(tokens.data(), count), lone_carriage_return);
    if (interpreted.kind == SettingsLineKind::rejected) {
      outcome.failure = SettingsFailure::bad_line;
      outcome.line_number = reader.line_number();
      outcome.first_token = tokens[0];
      return outcome;
    }
    apply_settings_writes(interpreted, image);
    if (!lone_carriage_return || carriage_return_line != reader.line_number()) {
      for (SettingsWarning& warning : interpreted.warnings) {
        warning.line_number = reader.line_number();
        outcome.warnings.add(std::move(warning));
      }
    }
    if (lone_carriage_return) {
      carriage_return_line = reader.line_number();
    }
  }
  outcome.error_number = reader.read_error();
  outcome.line_number = reader.line_number();
  if (reader.too_large()) {
    outcome.failure = SettingsFailure::cannot_open;
    outcome.refusal = SettingsRefusal::too_large;
  }
  return outcome;
}

SettingsOutcome load_settings_file(const std::string& settings_path, ColorImage& image) {
  // Binary mode: the reader does the text-mode conversion itself, the same on every platform.
  UniqueFile file(std::fopen(settings_path.c_str(), "rb"));
  SettingsOutcome outcome;
  if (!file) {
    outcome.failure = SettingsFailure::cannot_open;
    outcome.error_number = errno;
    return outcome;
  }
  // A folder opens on POSIX systems, and its first read fails: that is no file of settings.
  struct stat status {};
  if (fstat(fileno(file.get()), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      outcome.failure = SettingsFailure::cannot_open;
      outcome.error_number = EISDIR;
      outcome.refusal = SettingsRefusal::folder;
      return outcome;
    }
  }
  return read_settings(file.get(), image, k_max_settings_size);
}

}  // namespace murve
