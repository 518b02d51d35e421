#include "settings/settings_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "settings/number_reading.h"

namespace murve {
namespace {

constexpr int k_end_of_file_byte = 0x1a;
constexpr const char* k_token_delimiters = "=, \t\n";
constexpr std::int32_t k_table2608_keyword = 2608;
constexpr std::int32_t k_table2151_keyword = 2151;

std::uint8_t value_byte(const char* token) {
  return static_cast<std::uint8_t>(read_hex(token));
}

// Lays values into the table's value bytes in order, writing 0x00 into each fill byte as it is
// passed.
void apply_table_values(std::span<const char* const> values, const ColorTable& table,
                        ColorImage& image) {
  std::size_t byte_index = 0;
  for (std::size_t j = 0; j < values.size() && j < table.max_values(); ++j) {
    set_table_byte(image, table, byte_index++, value_byte(values[j]));
    while (byte_index < table.size() && is_fill_byte(table, byte_index)) {
      set_table_byte(image, table, byte_index++, 0x00);
    }
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

bool apply_settings_line(std::span<const char* const> tokens, ColorImage& image) {
  if (tokens.empty()) {
    return true;
  }
  const char* keyword = tokens[0];
  const auto values = tokens.subspan(1);
  if (keyword[0] == '#') {
    return true;
  }
  if (keyword[0] != 'c') {
    return false;
  }
  if (std::strcmp(keyword, "cspec") == 0) {
    apply_table_values(values, k_spec_table, image);
    return true;
  }
  const std::int32_t number = read_decimal(keyword + 1);
  if (number >= 0 && static_cast<std::size_t>(number) < k_color_codes.entries) {
    if (!values.empty()) {
      set_color_code(image, static_cast<std::size_t>(number), value_byte(values[0]));
    }
    return true;
  }
  if (number == k_table2608_keyword) {
    apply_table_values(values, k_table2608, image);
    return true;
  }
  if (number == k_table2151_keyword) {
    apply_table_values(values, k_table2151, image);
    return true;
  }
  return false;
}

SettingsOutcome read_settings(std::FILE* file, ColorImage& image) {
  SettingsOutcome outcome;
  SettingsLineReader reader(file);
  LineBuffer line;
  LineTokens tokens;
  while (reader.read_line(line)) {
    const std::size_t count = tokenize_settings_line(line.data(), tokens);
    if (!apply_settings_line(std::span<const char* const>(tokens.data(), count), image)) {
      outcome.failure = SettingsFailure::bad_line;
      outcome.line_number = reader.line_number();
      outcome.first_token = tokens[0];
      return outcome;
    }
  }
  outcome.error_number = reader.read_error();
  outcome.line_number = reader.line_number();
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
  if (fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode)) {
    outcome.failure = SettingsFailure::cannot_open;
    outcome.error_number = EISDIR;
    return outcome;
  }
  return read_settings(file.get(), image);
}

}  // namespace murve
