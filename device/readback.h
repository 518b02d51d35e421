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
  no_answer,    // nothing came within k_reply_timeout_ms
  no_marker,    // its answer holds no "EEPROM DATA\n"
  wrong_pairs,  // the marker is followed by other than 32 pairs
  out_of_step,  // a backup's answer came with more than one block, or more data followed it
};

// How one block of 32 bytes went, with why it was not accepted.
struct BlockOutcome {
  BlockStatus status = BlockStatus::not_asked;
  DecodedReply decoded;            // wrong_pairs: what the answer held
  bool marker_ends_in_cr = false;  // no_marker: it has "EEPROM DATA\r\n" instead
  bool hung_up = false;            // no_answer: the device hung up
  bool late_answer = false;        // no_answer: an answer came later, and was dropped
  bool device_stopped = false;     // no_answer: the second block in a row without any answer, so
                                   // the reading ended
  SendOutcome send;                // send_failed: why
};

struct ReadBackOutcome {
  std::array<BlockOutcome, k_read_block_count> blocks{};

  bool all_accepted() const;
};

enum class ReadBackPace {
  // As fast as the dialogue allows: leftovers are dropped before each read command.
  listing,
  // For a backup, which must not mistake one block's answer for another's: what the device
  // sends after each answer, until the line has been quiet for a while, must hold no second
  // answer, and the first block that is not read ends the reading.
  backup,
};

// Reads 0x080-0x15F back, 32 bytes a command; a block whose answer is not accepted stays zero.
ReadBackOutcome read_back(Dialogue& dialogue, ReadbackImage& image,
                          ReadBackPace pace = ReadBackPace::listing);

// A read answer that does not come within k_reply_timeout_ms is waited out until this long after
// its command, and dropped, so that it is never taken for the next block's.
inline constexpr int k_late_answer_limit_ms = 2500;
// How long the line must stay quiet after each answer of a backup: longer than any pause
// within an answer (k_further_byte_timeout_ms), so that all the device sent for a command is seen.
inline constexpr int k_backup_quiet_ms = 150;
static_assert(k_backup_quiet_ms > k_further_byte_timeout_ms);

}  // namespace murve
