#include "device/readback.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace murve {
namespace {

constexpr int k_read_sleep_ms = 10;
constexpr const char* k_data_marker = "EEPROM DATA\n";
// The marker as a console that ends its lines with CR LF sends it.
constexpr const char* k_crlf_data_marker = "EEPROM DATA\r\n";
// A block whose answer does not come ends the reading when the block before it had none either:
// the device has stopped answering, and waiting out every further block would take long.
constexpr int k_silent_blocks_to_stop = 2;

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
    // A marker that ends in CR LF is there whole: the answer is malformed, not unfinished.
    return std::strstr(reply, k_crlf_data_marker) == nullptr;
  }
  const DecodedReply decoded = decode_data_reply(data);
  return decoded.stop == DecodeStop::end_of_text && decoded.pair_count < k_read_block_size;
}

// Whether what a device sent after an answer holds the beginning of another one: the marker,
// or the start of it at its very end. `size` counts all that came, more than the text may hold.
bool holds_another_answer(const char* text, std::size_t size) {
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

// Judges the answer now in the dialogue's reply.
BlockOutcome judge_answer(const Dialogue& dialogue, ReadBackPace pace) {
  BlockOutcome outcome;
  if (dialogue.response_size() == 0) {
    outcome.status = BlockStatus::no_answer;
    return outcome;
  }
  const char* data = find_data_marker(dialogue.response());
  if (data == nullptr) {
    outcome.status = BlockStatus::no_marker;
    outcome.marker_ends_in_cr = std::strstr(dialogue.response(), k_crlf_data_marker) != nullptr;
    return outcome;
  }
  outcome.decoded = decode_data_reply(data);
  if (outcome.decoded.pair_count != k_read_block_size) {
    outcome.status = BlockStatus::wrong_pairs;
  } else if (pace == ReadBackPace::backup && holds_another_answer(data, std::strlen(data))) {
    outcome.status = BlockStatus::out_of_step;  // the answers of two reads in one
  } else {
    outcome.status = BlockStatus::accepted;
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
      decoded.stop_character = *p;
      return decoded;
    }
  }
}

ReadBackOutcome read_back(Dialogue& dialogue, ReadbackImage& image, ReadBackPace pace) {
  ReadBackOutcome outcome;
  std::array<char, 32> command{};
  int silent_blocks = 0;
  const bool backup = pace == ReadBackPace::backup;
  for (std::size_t block = 0; block < k_read_block_count; ++block) {
    const unsigned address = read_block_address(block);
    // Leftovers of earlier answers would otherwise be taken for the beginning of this one. A
    // backup has judged what followed each of its answers already; before the first, the rest of
    // the banner may still be coming.
    if (!backup) {
      dialogue.discard_leftovers();
    } else if (block == 0) {
      dialogue.discard_leftovers(k_backup_quiet_ms, k_backup_quiet_ms);
    }
    const int length =
        std::snprintf(command.data(), command.size(), "eepromex read %02x\n", address);
    BlockOutcome& result = outcome.blocks[block];
    result.send = dialogue.send_bytes(command.data(), static_cast<std::size_t>(length));
    if (result.send.failed()) {
      result.status = BlockStatus::send_failed;
      return outcome;
    }
    dialogue.sleep_ms(k_read_sleep_ms);
    dialogue.read_response();
    dialogue.complete_response(read_reply_incomplete);
    result = judge_answer(dialogue, pace);
    if (result.status == BlockStatus::accepted) {
      std::memcpy(image.data() + address, result.decoded.bytes.data(), k_read_block_size);
      silent_blocks = 0;
    } else if (result.status == BlockStatus::no_answer) {
      result.hung_up = dialogue.hung_up();
      // An answer that comes late is an answer all the same: only silence counts toward a device
      // that has stopped.
      if (!backup && block + 1 < k_read_block_count) {
        result.late_answer = dialogue.discard_leftovers(k_late_answer_limit_ms - k_read_sleep_ms -
                                                        k_reply_timeout_ms) > 0;
      }
      silent_blocks = result.late_answer ? 0 : silent_blocks + 1;
      if (silent_blocks == k_silent_blocks_to_stop && block + 1 < k_read_block_count) {
        result.device_stopped = true;
        return outcome;
      }
    } else {
      silent_blocks = 0;
    }
    if (backup) {
      if (result.status != BlockStatus::accepted) {
        return outcome;
      }
      const std::size_t trailing = dialogue.discard_leftovers(k_backup_quiet_ms, k_backup_quiet_ms);
      if (holds_another_answer(dialogue.discarded_text(), trailing)) {
        result.status = BlockStatus::out_of_step;
        return outcome;
      }
    }
  }
  return outcome;
}

}  // namespace murve
