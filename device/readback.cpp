#include "device/readback.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "settings/number_reading.h"

namespace murve {
namespace {

constexpr const char* k_data_marker = "EEPROM DATA\n";
// The marker as a console that ends its lines with CR LF sends it.
constexpr const char* k_crlf_data_marker = "EEPROM DATA\r\n";
// A block whose reply does not come ends the reading when the block before it had none either:
// the device has stopped replying, and waiting out every further block would take long.
constexpr int k_silent_blocks_to_stop = 2;

// A read reply is still arriving while it lacks the marker, or has it followed by fewer than
// 32 well-formed pairs with the text ending inside the data.
bool read_reply_incomplete(const char* reply) {
  const char* data = find_data_marker(reply);
  if (data == nullptr) {
    // A marker that ends in CR LF is there whole: the reply is malformed, not unfinished.
    return std::strstr(reply, k_crlf_data_marker) == nullptr;
  }
  const DecodedReply decoded = decode_data_reply(data);
  return decoded.stop == DecodeStop::end_of_text && decoded.pair_count < k_read_block_size;
}

// Whether what a device sent after a reply's data holds the beginning of another reply: the
// marker, or the start of it at its very end. `size` counts all that came, more than the text
// may hold.
bool holds_another_reply(const char* text, std::size_t size) {
  const std::size_t length = std::strlen(text);
  if (size > length || std::strstr(text, k_data_marker) != nullptr) {
    return true;
  }
  const std::size_t marker_length = std::strlen(k_data_marker);
  for (std::size_t prefix = std::min(length, marker_length - 1); prefix > 0; --prefix) {
    if (std::strncmp(text + length - prefix, k_data_marker, prefix) == 0) {
      return true;
    }
  }
  return false;
}

// Sends the read command of `block`, takes its reply and judges it.
BlockOutcome read_block(Dialogue& dialogue, std::size_t block) {
  std::array<char, 32> command{};
  const int length = std::snprintf(command.data(), command.size(), "eepromex read %02x\n",
                                   read_block_address(block));
  BlockOutcome outcome;
  outcome.send = dialogue.send_bytes(command.data(), static_cast<std::size_t>(length));
  if (outcome.send.failed()) {
    outcome.status = BlockStatus::send_failed;
    outcome.hung_up = dialogue.hung_up();
    return outcome;
  }
  dialogue.sleep_ms(k_read_sleep_ms);
  dialogue.read_response();
  dialogue.complete_reply(read_reply_incomplete);
  const char* data = find_data_marker(dialogue.reply());
  const bool text_ends_at_nul = std::strlen(dialogue.reply()) < dialogue.reply_size();
  if (dialogue.reply_size() == 0) {
    outcome.status = BlockStatus::no_reply;
    outcome.hung_up = dialogue.hung_up();
  } else if (data == nullptr) {
    outcome.status = BlockStatus::no_marker;
    outcome.marker_ends_in_cr = std::strstr(dialogue.reply(), k_crlf_data_marker) != nullptr;
    outcome.nul_byte = text_ends_at_nul && !outcome.marker_ends_in_cr;
  } else {
    outcome.decoded = decode_data_reply(data);
    outcome.status = outcome.decoded.pair_count == k_read_block_size ? BlockStatus::accepted
                                                                     : BlockStatus::wrong_pairs;
    outcome.nul_byte = text_ends_at_nul && outcome.decoded.stop == DecodeStop::end_of_text &&
                       outcome.decoded.pair_count < k_read_block_size;
  }
  return outcome;
}

// Whether the reply in the dialogue came with the beginning of another, or is followed by one
// before the line has been quiet for k_backup_quiet_ms.
bool replies_out_of_step(Dialogue& dialogue) {
  const char* data = find_data_marker(dialogue.reply());
  if (holds_another_reply(data, std::strlen(data))) {
    return true;
  }
  const DroppedBytes after = dialogue.discard_leftovers(k_backup_quiet_ms, k_backup_quiet_ms);
  return holds_another_reply(after.text(), after.size());
}

void store_block(ReadbackImage& image, std::size_t block, const BlockOutcome& outcome) {
  std::memcpy(image.data() + read_block_address(block), outcome.decoded.bytes.data(),
              k_read_block_size);
}

ReadBackOutcome read_for_listing(Dialogue& dialogue, ReadbackImage& image) {
  ReadBackOutcome outcome;
  int silent_blocks = 0;
  for (std::size_t block = 0; block < k_read_block_count; ++block) {
    // Leftovers of earlier replies would otherwise be taken for the beginning of this one.
    dialogue.discard_leftovers();
    BlockOutcome& result = outcome.blocks[block] = read_block(dialogue, block);
    const bool last = block + 1 == k_read_block_count;
    if (result.status == BlockStatus::send_failed) {
      return outcome;
    }
    if (result.status == BlockStatus::accepted) {
      store_block(image, block, result);
    }
    // A reply that comes late is a reply all the same: only silence counts toward a device that
    // has stopped.
    if (result.status == BlockStatus::no_reply && !last) {
      result.late_reply = dialogue.drop_late_reply();
    }
    const bool silent = result.status == BlockStatus::no_reply && !result.late_reply;
    silent_blocks = silent ? silent_blocks + 1 : 0;
    if (silent_blocks == k_silent_blocks_to_stop && !last) {
      result.device_stopped = true;
      return outcome;
    }
  }
  return outcome;
}

ReadBackOutcome read_for_backup(Dialogue& dialogue, ReadbackImage& image) {
  ReadBackOutcome outcome;
  // The rest of the banner may still be coming; after each reply, what follows it is judged.
  dialogue.discard_leftovers(k_backup_quiet_ms, k_backup_quiet_ms);
  for (std::size_t block = 0; block < k_read_block_count; ++block) {
    BlockOutcome& result = outcome.blocks[block] = read_block(dialogue, block);
    if (result.status == BlockStatus::accepted && replies_out_of_step(dialogue)) {
      result.status = BlockStatus::out_of_step;
    }
    if (result.status != BlockStatus::accepted) {
      return outcome;
    }
    store_block(image, block, result);
  }
  return outcome;
}

}  // namespace

bool ReadBackOutcome::all_accepted() const {
  for (const BlockOutcome& block : blocks) {
    if (block.status != BlockStatus::accepted) {
      return false;
    }
  }
  return true;
}

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
    // The device writes "%02x": an upper-case digit is no part of its answer.
    const int value = hex_digit_value(*p, HexLetters::lower_case);
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
      decoded.stop_character = *p;
      return decoded;
    }
  }
}

ReadBackOutcome read_back(Dialogue& dialogue, ReadbackImage& image, ReadBackPolicy policy) {
  return policy == ReadBackPolicy::backup ? read_for_backup(dialogue, image)
                                          : read_for_listing(dialogue, image);
}

}  // namespace murve
