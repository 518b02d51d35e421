#include "device/readback.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace murve {
namespace {

constexpr int k_read_sleep_ms = 10;
constexpr const char* k_data_marker = "EEPROM DATA\n";
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
    return true;
  }
  const DecodedReply decoded = decode_data_reply(data);
  return decoded.stop == DecodeStop::end_of_text && decoded.pair_count < k_read_block_size;
}

// Judges the answer now in the link's reply.
BlockOutcome judge_answer(const SerialLink& link, ReadBackPace pace) {
  BlockOutcome outcome;
  if (link.response_size() == 0) {
    outcome.status = BlockStatus::no_answer;
    return outcome;
  }
  const char* data = find_data_marker(link.response());
  if (data == nullptr) {
    outcome.status = BlockStatus::no_marker;
    return outcome;
  }
  outcome.decoded = decode_data_reply(data);
  if (outcome.decoded.pair_count != k_read_block_size) {
    outcome.status = BlockStatus::wrong_pairs;
  } else if (pace == ReadBackPace::backup && find_data_marker(data) != nullptr) {
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

ReadBackOutcome read_back(SerialLink& link, ReadbackImage& image, ReadBackPace pace) {
  ReadBackOutcome outcome;
  std::array<char, 32> command{};
  int silent_blocks = 0;
  for (std::size_t block = 0; block < k_read_block_count; ++block) {
    const unsigned address = read_block_address(block);
    // Leftovers of earlier answers would otherwise be taken for the beginning of this one. A
    // backup also waits a while for what a device that answers twice still has to send.
    const int quiet_ms = pace == ReadBackPace::backup ? k_backup_quiet_ms : 0;
    if (link.drain_input(quiet_ms) > 0 && pace == ReadBackPace::backup && block > 0) {
      outcome.blocks[block - 1].status = BlockStatus::out_of_step;
      return outcome;
    }
    const int length =
        std::snprintf(command.data(), command.size(), "eepromex read %02x\n", address);
    BlockOutcome& result = outcome.blocks[block];
    result.error = link.send_bytes(command.data(), static_cast<std::size_t>(length));
    if (result.error.failed()) {
      result.status = BlockStatus::send_failed;
      return outcome;
    }
    link.sleep_ms(k_read_sleep_ms);
    link.read_response();
    link.complete_response(read_reply_incomplete);
    result = judge_answer(link, pace);
    if (result.status == BlockStatus::accepted) {
      std::memcpy(image.data() + address, result.decoded.bytes.data(), k_read_block_size);
      silent_blocks = 0;
    } else if (result.status == BlockStatus::no_answer) {
      if (++silent_blocks == k_silent_blocks_to_stop) {
        result.device_stopped = true;
        return outcome;
      }
      if (pace == ReadBackPace::listing && block + 1 < k_read_block_count) {
        result.late_answer =
            link.drain_input(k_late_answer_limit_ms - k_read_sleep_ms - k_reply_timeout_ms) > 0;
      }
    } else {
      silent_blocks = 0;
    }
    if (pace == ReadBackPace::backup && result.status != BlockStatus::accepted) {
      return outcome;
    }
  }
  if (pace == ReadBackPace::backup && link.drain_input(k_backup_quiet_ms) > 0) {
    outcome.blocks.back().status = BlockStatus::out_of_step;
  }
  return outcome;
}

}  // namespace murve
