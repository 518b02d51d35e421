// One settings line, split into tokens and applied to the default image. The tokens must be the
// line's words; the line must change exactly the bytes it names, to the values it gives, keep
// every fill byte 00, and be rejected, printing nothing, only when it names no table.

#include <array>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "settings/number_reading.h"
#include "settings/settings_file.h"

namespace {

constexpr std::string_view k_delimiters = "=, \t\n";

// The words of `text` up to its first NUL, at most k_max_line_tokens of them.
std::vector<std::string> plain_words(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> words;
  std::size_t at = 0;
  while (words.size() < murve::k_max_line_tokens) {
    at = text.find_first_not_of(k_delimiters, at);
    if (at == std::string_view::npos) {
      break;
    }
    const std::size_t end = std::min(text.find_first_of(k_delimiters, at), text.size());
    words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// strtoll's reading of a number, brought into the signed 32-bit range.
std::int32_t library_number(const char* text, int base) {
  errno = 0;
  const long long value = std::strtoll(text, nullptr, base);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

// The bytes a line names and the values it gives them.
struct Named {
  std::bitset<murve::k_color_image_size> bytes;
  std::array<std::uint8_t, murve::k_color_image_size> values{};

  void set(std::size_t offset, std::uint8_t value) {
    bytes.set(offset);
    values[offset] = value;
  }
};

// Where a table starts in the image.
std::size_t offset_of(const murve::ColorTable& table) {
  return table.address - murve::k_color_image_address;
}

// Values laid three to an entry from byte 0 of a table, each entry's fill byte written 00.
void name_table(const std::vector<std::uint8_t>& values, std::size_t offset, std::size_t max_values,
                Named& named) {
  for (std::size_t j = 0; j < values.size() && j < max_values; ++j) {
    const std::size_t entry = offset + j / 3 * 4;
    named.set(entry + j % 3, values[j]);
    if (j % 3 == 2) {
      named.set(entry + 3, 0x00);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data),
                         std::min(size, murve::k_max_line_read));
  auto line = std::make_unique<murve::LineBuffer>();
  std::memcpy(line->data(), text.data(), text.size());
  (*line)[text.size()] = '\0';
  murve::LineTokens tokens;
  const std::size_t count = murve::tokenize_settings_line(line->data(), tokens);

  const std::vector<std::string> words = plain_words(text);
  FUZZ_CHECK(count == words.size());
  for (std::size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(tokens[i] >= line->data() && tokens[i] < line->data() + text.size());
    FUZZ_CHECK(words[i] == tokens[i]);
    FUZZ_CHECK(murve::read_hex(tokens[i]) == library_number(tokens[i], 16));
    FUZZ_CHECK(murve::read_decimal(tokens[i]) == library_number(tokens[i], 10));
  }

  std::vector<std::uint8_t> values;
  for (std::size_t i = 1; i < words.size(); ++i) {
    values.push_back(static_cast<std::uint8_t>(library_number(words[i].c_str(), 16)));
  }
  Named named;
  bool expected_accepted = true;
  if (!words.empty() && words[0][0] != '#') {
    const std::int32_t number = words[0][0] == 'c' ? library_number(words[0].c_str() + 1, 10) : -1;
    if (words[0] == "cspec") {
      for (std::size_t j = 0; j < values.size() && j < 48; ++j) {
        named.set(offset_of(murve::k_spec_table) + j, values[j]);
      }
    } else if (number >= 0 && number < 64) {
      if (!values.empty()) {
        named.set(offset_of(murve::k_color_codes) + static_cast<std::size_t>(number), values[0]);
      }
    } else if (number == 2608) {
      name_table(values, offset_of(murve::k_table2608), 48, named);
    } else if (number == 2151) {
      name_table(values, offset_of(murve::k_table2151), 24, named);
    } else {
      expected_accepted = false;
    }
  }

  const murve::ColorImage before = murve::build_default_image();
  murve::ColorImage image = before;
  const bool accepted =
      murve::apply_settings_line(std::span<const char* const>(tokens.data(), count), image);

  FUZZ_CHECK(accepted == expected_accepted);
  FUZZ_CHECK(murve_fuzz::take_stdout().empty());
  for (std::size_t i = 0; i < image.bytes.size(); ++i) {
    FUZZ_CHECK(image.bytes[i] == (named.bytes[i] ? named.values[i] : before.bytes[i]));
  }
  FUZZ_CHECK(murve_fuzz::fill_bytes_zero(image));
  return 0;
}
