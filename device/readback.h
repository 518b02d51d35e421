#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/serial_link.h"

namespace murve {

inline constexpr std::size_t k_readback_image_size = 512;
inline constexpr std::size_t k_read_block_size = 32;
inline constexpr unsigned k_readback_first_address = 0x080;
inline constexpr std::size_t k_read_block_count = 7;

// One byte per device EEPROM address 0x000-0x1FF; only 0x080-0x15F are ever filled.
using ReadbackImage = std::array<std::uint8_t, k_readback_image_size>;

enum class DecodeStop {
  end_of_text,           // the reply ended; more of it may still have been on its way
  unexpected_character,  // a character that fits no pair: the reply is malformed from there on
};

struct DecodedReply {
  std::array<std::uint8_t, k_read_block_size> bytes{};
  std::size_t pair_count = 0;  // completed pairs; goes on counting past 32
  DecodeStop stop = DecodeStop::end_of_text;
};

// The text just after the "EEPROM DATA\n" marker in `reply`, or null without one.
const char* find_data_marker(const char* reply);

// Decodes pairs of lowercase hex digits, each followed by a space or a line feed; the first digit
// of a pair is the high four bits.
DecodedReply decode_data_reply(const char* text);

struct ReadBackOutcome {
  std::size_t blocks_accepted = 0;
  bool send_failed = false;  // a read command could not be sent; no later block was asked for
};

// Reads 0x080-0x15F back, 32 bytes a command, printing nothing; a block whose reply is not
// accepted stays zero.
ReadBackOutcome read_back_blocks(SerialLink& link, ReadbackImage& image);

// The same, printing "write error." when a read command could not be sent.
void read_back(SerialLink& link, ReadbackImage& image);

// Prints "Verify.." and the fourteen hex-and-text lines of 0x080-0x15F.
void print_verify_listing(const ReadbackImage& image);

}  // namespace murve
