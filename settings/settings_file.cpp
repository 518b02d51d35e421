#include "settings/settings_file.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "settings/number_reading.h"

namespace murve {
namespace {

constexpr int k_end_of_file_byte = 0x1a;
constexpr const char* k_token_delimiters = "=, \t\n";
constexpr std::size_t k_max_spec_values = 48;
constexpr std::size_t k_max_table2608_values = 48;
constexpr std::size_t k_max_table2151_values = 24;
constexpr std::int32_t k_table2608_keyword = 2608;
constexpr std::int32_t k_table2151_keyword = 2151;

std::uint8_t value_byte(const char* token) {
  return static_cast<std::uint8_t>(read_hex(token));
}

using TableSetter = void (*)(ColorImage&, std::size_t, std::uint8_t);

// Lays values into entries three at a time, writing 0x00 into each fill byte as it is passed.
void apply_table_values(std::span<const char* const> values, std::size_t max_values,
                        TableSetter set_byte, ColorImage& image) {
  std::size_t k = 0;
  for (std::size_t j = 0; j < values.size() && j < max_values; ++j) {
    set_byte(image, k, value_byte(values[j]));
    ++k;
    if (k % k_table_entry_size == k_table_fill_position) {
      set_byte(image, k, 0x00);
      ++k;
    }
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int SettingsLineReader::peek_raw() {
  if (chunk_pos_ == chunk_end_) {
    if (ended_) {
      return EOF;
    }
    chunk_pos_ = 0;
    chunk_end_ = std::fread(chunk_.data(), 1, chunk_.size(), file_);
    if (chunk_end_ == 0) {
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
  return length > 0;
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
  if (keyword[0] == 'c') {
    if (std::strcmp(keyword, "cspec") == 0) {
      for (std::size_t j = 0; j < values.size() && j < k_max_spec_values; ++j) {
        set_spec_byte(image, j, value_byte(values[j]));
      }
      return true;
    }
    const std::int32_t number = read_decimal(keyword + 1);
    if (number >= 0 && static_cast<std::size_t>(number) < k_color_code_count) {
      if (!values.empty()) {
        set_color_code(image, static_cast<std::size_t>(number), value_byte(values[0]));
      }
      return true;
    }
    if (number == k_table2608_keyword) {
      apply_table_values(values, k_max_table2608_values, set_table2608_byte, image);
      return true;
    }
    if (number == k_table2151_keyword) {
      apply_table_values(values, k_max_table2151_values, set_table2151_byte, image);
      return true;
    }
  }
  std::printf("??? [%s]\n", keyword);
  return false;
}

bool read_settings(std::FILE* file, ColorImage& image) {
  SettingsLineReader reader(file);
  LineBuffer line;
  LineTokens tokens;
  while (reader.read_line(line)) {
    const std::size_t count = tokenize_settings_line(line.data(), tokens);
    if (!apply_settings_line(std::span<const char* const>(tokens.data(), count), image)) {
      std::printf("config file error\n");
      return false;
    }
  }
  return true;
}

bool load_settings_file(const std::string& settings_path, ColorImage& image) {
  // Binary mode: the reader does the text-mode conversion itself, the same on every platform.
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(settings_path.c_str(), "rb"));
  if (!file) {
    std::printf("open error.[%s]\n", settings_path.c_str());
    return false;
  }
  return read_settings(file.get(), image);
}

}  // namespace murve
