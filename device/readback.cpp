#include "device/readback.h"

#include <cstdio>
#include <cstring>

namespace murve {
namespace {

constexpr int k_read_sleep_ms = 10;
constexpr const char* k_data_marker = "EEPROM DATA\n";
constexpr std::size_t k_listing_first_line = 0x080;
constexpr std::size_t k_listing_line_count = 14;
constexpr std::size_t k_listing_bytes_per_line = 16;
constexpr std::size_t k_listing_dash_after = 7;

int lowercase_hex_value(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

// A read reply is still arriving while it lacks the marker, or has it followed by fewer than
// 32 well-formed pairs with the text ending inside the data.
bool read_reply_incomplete(const char* reply) {
  const char* data = find_data_marker(reply);
  if (data == nullptr) {
    return true;
  }
  const DecodedReply decoded = decode_data_reply(data);
  return decoded.stop == DecodeStop::end_of_text && decoded.pair_count < k_read_block_size;
}

}  // namespace

const char* find_data_marker(const char* reply) {
  const char* marker = std::strstr(reply, k_data_marker);
  return marker == nullptr ? nullptr : marker + std::strlen(k_data_marker);
}

DecodedReply decode_data_reply(const char* text) {
  enum class State { first_digit, second_digit, separator };
  DecodedReply decoded;
  State state = State::first_digit;
  int high = 0;
  int low = 0;
  for (const char* p = text;; ++p) {
    if (*p == '\0') {
      decoded.stop = DecodeStop::end_of_text;
      return decoded;
    }
    const int value = lowercase_hex_value(*p);
    if (state == State::first_digit && value >= 0) {
      high = value;
      state = State::second_digit;
    } else if (state == State::second_digit && value >= 0) {
      low = value;
      state = State::separator;
    } else if (state == State::separator && (*p == ' ' || *p == '\n')) {
      if (decoded.pair_count < decoded.bytes.size()) {
        decoded.bytes[decoded.pair_count] = static_cast<std::uint8_t>(high * 16 + low);
      }
      ++decoded.pair_count;
      state = State::first_digit;
    } else {
      decoded.stop = DecodeStop::unexpected_character;
      return decoded;
    }
  }
}

ReadBackOutcome read_back_blocks(SerialLink& link, ReadbackImage& image) {
  ReadBackOutcome outcome;
  std::array<char, 32> command{};
  for (std::size_t block = 0; block < k_read_block_count; ++block) {
    const unsigned address =
        k_readback_first_address + static_cast<unsigned>(block * k_read_block_size);
    const int length =
        std::snprintf(command.data(), command.size(), "eepromex read %02x\n", address);
    // Leftovers of earlier replies would otherwise be taken for the beginning of this one.
    link.discard_input();
    if (!link.send_bytes(command.data(), static_cast<std::size_t>(length))) {
      outcome.send_failed = true;
      return outcome;
    }
    link.sleep_ms(k_read_sleep_ms);
    link.read_response();
    link.complete_response(read_reply_incomplete);
    const char* data = find_data_marker(link.response());
    if (data == nullptr) {
      continue;
    }
    const DecodedReply decoded = decode_data_reply(data);
    if (decoded.pair_count == k_read_block_size) {
      std::memcpy(image.data() + address, decoded.bytes.data(), k_read_block_size);
      ++outcome.blocks_accepted;
    }
  }
  return outcome;
}

void read_back(SerialLink& link, ReadbackImage& image) {
  if (read_back_blocks(link, image).send_failed) {
    std::printf("write error.\n");
  }
}

void print_verify_listing(const ReadbackImage& image) {
  std::printf("Verify..\n");
  std::array<char, k_listing_bytes_per_line + 1> text_column{};
  for (std::size_t line = 0; line < k_listing_line_count; ++line) {
    const std::size_t address = k_listing_first_line + line * k_listing_bytes_per_line;
    std::printf("%04x: ", static_cast<unsigned>(address));
    for (std::size_t i = 0; i < k_listing_bytes_per_line; ++i) {
      const std::uint8_t byte = image[address + i];
      std::printf("%02x%s", byte, i == k_listing_dash_after ? "-" : " ");
      text_column[i] = byte >= 0x20 && byte <= 0x7e ? static_cast<char>(byte) : '.';
    }
    std::printf("%s\n", text_column.data());
  }
}

}  // namespace murve
