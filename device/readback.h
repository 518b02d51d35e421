#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/dialogue.h"
#include "settings/memory_map.h"

namespace murve {

// One byte per device EEPROM address 0x000-0x1FF; only 0x080-0x15F are ever filled.
using ReadbackImage = std::array<std::uint8_t, k_eeprom_size>;

enum class DecodeStop {
  end_of_text,           // the reply ended; more of it may still have been on its way
  unexpected_character,  // a character that fits no pair: the reply is malformed from there on
};

struct DecodedReply {
  std::array<std::uint8_t, k_read_block_size> bytes{};
  std::size_t pair_count = 0;  // completed pairs; goes on counting past 32
  DecodeStop stop = DecodeStop::end_of_text;
  char stop_character = '\0';  // unexpected_character: the character
};

// The text just after the "EEPROM DATA\n" marker in `reply`, or null without one.
const char* find_data_marker(const char* reply);

// Decodes pairs of lowercase hex digits, each followed by a space or a line feed; the first digit
// of a pair is the high four bits.
DecodedReply decode_data_reply(const char* text);

enum class BlockStatus {
  accepted,
  not_asked,    // an earlier block ended the reading
  send_failed,  // its read command could not be sent
  no_reply,     // nothing came within k_reply_timeout_ms
  no_marker,    // its reply holds no "EEPROM DATA\n"
  wrong_pairs,  // the marker is followed by other than 32 pairs
  out_of_step,  // a backup's reply came with or was followed by the beginning of another
};

// How one block of 32 bytes went, with why it was not accepted.
struct BlockOutcome {
  BlockStatus status = BlockStatus::not_asked;
  DecodedReply decoded;            // wrong_pairs: what the reply held
  bool marker_ends_in_cr = false;  // no_marker: it has "EEPROM DATA\r\n" instead
  bool nul_byte = false;           // no_marker, wrong_pairs: a NUL byte ended the answer's text
                                   // before its marker, or before its 32nd pair
  bool hung_up = false;            // no_reply, send_failed: the device hung up
  bool late_reply = false;         // no_reply: a reply came later, and was dropped
  bool device_stopped = false;     // no_reply: the second block in a row without any reply, so
                                   // the reading ended
  SendOutcome send;                // send_failed: why
};

struct ReadBackOutcome {
  std::array<BlockOutcome, k_read_block_count> blocks{};

  bool all_accepted() const;
};

enum class ReadBackPolicy {
  // For murvecolor's listing: leftovers are dropped before each read command, a late reply is
  // waited out before the next one, and only two silent blocks in a row end the reading.
  listing,
  // For a backup, which must not mistake one block's reply for another's: what the device
  // sends after each reply, until the line has been quiet for k_backup_quiet_ms, must hold no
  // second reply, and the first block that is not read ends the reading.
  backup,
};

// Reads 0x080-0x15F back, 32 bytes a command; a block whose reply is not accepted stays zero.
ReadBackOutcome read_back(Dialogue& dialogue, ReadbackImage& image,
                          ReadBackPolicy policy = ReadBackPolicy::listing);

}  // namespace murve
