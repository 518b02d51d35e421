#include "device/serial_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace murve {
namespace {

// Bounds the discarding of a device that never stops sending.
constexpr int k_max_discard_reads = 16;

}  // namespace

std::int64_t SerialLink::monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SerialLink::read_response() {
  response_length_ = receive_bytes(response_.data(), k_max_reply_bytes, k_reply_timeout_ms);
  response_[response_length_] = '\0';
}

std::size_t SerialLink::append_response(int wait_ms) {
  const std::size_t received = receive_bytes(response_.data() + response_length_,
                                             k_max_reply_bytes - response_length_, wait_ms);
  response_length_ += received;
  response_[response_length_] = '\0';
  return received;
}

void SerialLink::complete_response(ReplyIncomplete incomplete) {
  const std::int64_t deadline = monotonic_ms() + k_complete_reply_limit_ms;
  // Past a NUL byte the text can't change any more, whatever else arrives.
  while (response_length_ < k_max_reply_bytes &&
         std::strlen(response_.data()) == response_length_ && incomplete(response_.data())) {
    const std::int64_t remaining = deadline - monotonic_ms();
    if (remaining <= 0) {
      break;
    }
    const int wait_ms =
        static_cast<int>(std::min<std::int64_t>(remaining, k_further_byte_timeout_ms));
    if (append_response(wait_ms) == 0) {
      break;
    }
  }
}

void SerialLink::discard_input() {
  for (int i = 0; i < k_max_discard_reads; ++i) {
    if (receive_bytes(response_.data(), k_max_reply_bytes, 0) == 0) {
      break;
    }
  }
  response_length_ = 0;
  response_[0] = '\0';
}

}  // namespace murve
