#include "device/serial_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace murve {
namespace {

// Once leftovers turn up, they are taken to go on until the line has been quiet this long; on a
// slow line the rest of an earlier reply is still on its way.
constexpr int k_quiet_line_ms = 20;

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
  // Bounded in time, for a device that never stops sending.
  const std::int64_t deadline = monotonic_ms() + k_complete_reply_limit_ms;
  int wait_ms = 0;
  while (receive_bytes(response_.data(), k_max_reply_bytes, wait_ms) > 0 &&
         monotonic_ms() < deadline) {
    wait_ms = k_quiet_line_ms;
  }
  response_length_ = 0;
  response_[0] = '\0';
}

}  // namespace murve
