#include "sim/murve_console.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace murvesim {
namespace {

constexpr std::size_t k_max_line = 1024;
constexpr std::size_t k_pairs_per_line = 16;
constexpr const char* k_prompt = "> ";

bool parse_hex(std::string_view token, std::size_t max_digits, unsigned& value) {
  if (token.empty() || token.size() > max_digits) {
    return false;
  }
  value = 0;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
      ++i;
    }
    if (i > start) {
      words.push_back(text.substr(start, i - start));
    }
  }
  return words;
}

}  // namespace

std::string help_banner(bool names_murve) {
  std::string banner =
      names_murve ? "MURVE Pro (6183) serial console\n" : "Pro (6183) serial console\n";
  banner +=
      "  h                      this help\n"
      "  eepromex ADDR BYTE...  store bytes (hex) in EEPROM from ADDR (hex)\n"
      "  eepromex read ADDR     show 32 bytes of EEPROM from ADDR (hex)\n";
  return banner;
}

std::string filler(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += i % 64 == 63 ? '\n' : '.';
  }
  return text;
}

MurveConsole::MurveConsole(const ConsoleQuirks& quirks) : quirks_(quirks) {
  eeprom_.fill(0xff);
}

std::string MurveConsole::receive(char byte) {
  std::string sent;
  if (quirks_.echo) {
    sent += byte;
  }
  // "\r\n" ends one line, not two.
  if (byte == '\n' && last_was_cr_) {
    last_was_cr_ = false;
    return sent;
  }
  last_was_cr_ = byte == '\r';
  if (byte == '\r' || byte == '\n') {
    ++commands_handled_;
    sent += handle_line(line_);
    line_.clear();
  } else if (line_.size() < k_max_line) {
    line_ += byte;
  }
  return sent;
}

std::string MurveConsole::reply(std::string text, std::size_t size) const {
  text += k_prompt;
  std::string out;
  for (char c : text) {
    if (c == '\n' && quirks_.crlf) {
      out += '\r';
    }
    out += c;
  }
  if (size > out.size()) {
    out.insert(0, filler(size - out.size()));
  }
  if (quirks_.nul_in_replies) {
    out.insert(std::min(quirks_.nul_after, out.size()), 1, '\0');
  }
  if (quirks_.garbage) {
    std::string noise;
    for (int value = 1; value <= 0xff; ++value) {
      noise += static_cast<char>(value);
    }
    out = noise + out + '\0';
  }
  return out;
}

std::string MurveConsole::handle_line(std::string_view line) {
  const std::vector<std::string_view> words = split_words(line);
  if (words.empty()) {
    return reply("\n", quirks_.wake_size);
  }
  if (words.size() == 1 && words[0] == "h") {
    ++helps_answered_;
    return reply(help_banner(quirks_.banner_names_murve) + filler(quirks_.flood_bytes),
                 quirks_.reply_size);
  }
  if (words[0] == "eepromex") {
    const std::size_t arguments_start = line.find("eepromex") + 8;
    const bool read = words.size() > 1 && words[1] == "read";
    return reply(handle_eepromex(line.substr(arguments_start)), read ? quirks_.reply_size : 0);
  }
  return reply("unknown command [" + std::string(line) + "]\n");
}

std::string MurveConsole::handle_eepromex(std::string_view arguments) {
  const std::vector<std::string_view> words = split_words(arguments);
  unsigned address = 0;
  if (words.size() == 2 && words[0] == "read") {
    if (!parse_hex(words[1], 3, address) || address + k_read_reply_bytes > k_eeprom_size) {
      return "bad address\n";
    }
    last_read_address_ = address;
    return read_text(address);
  }
  if (words.size() < 2 || !parse_hex(words[0], 3, address)) {
    return "usage: eepromex ADDR BYTE... | eepromex read ADDR\n";
  }
  // Checked whole before anything is stored, so a bad command leaves the EEPROM untouched.
  std::vector<std::uint8_t> values;
  for (std::size_t i = 1; i < words.size(); ++i) {
    unsigned value = 0;
    if (!parse_hex(words[i], 2, value)) {
      return "bad byte [" + std::string(words[i]) + "]\n";
    }
    values.push_back(static_cast<std::uint8_t>(value));
  }
  if (address + values.size() > k_eeprom_size) {
    return "bad address\n";
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    const bool flipped = quirks_.corrupt[address + i];
    eeprom_[address + i] = flipped ? static_cast<std::uint8_t>(values[i] ^ 0x01) : values[i];
  }
  ++writes_stored_;
  return "ok\n";
}

std::string MurveConsole::read_text(unsigned address) const {
  std::string text = "EEPROM DATA\n";
  std::array<char, 4> pair{};
  for (std::size_t i = 0; i < k_read_reply_bytes; ++i) {
    const char separator = i % k_pairs_per_line == k_pairs_per_line - 1 ? '\n' : ' ';
    std::snprintf(pair.data(), pair.size(), quirks_.upper_hex ? "%02X%c" : "%02x%c",
                  eeprom_[address + i], separator);
    text += pair.data();
  }
  return text;
}

std::string MurveConsole::repeated_read_reply() const {
  return reply(read_text(last_read_address_), quirks_.reply_size);
}

}  // namespace murvesim
