#include "device/serial_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace murve {

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

std::size_t SerialLink::drain_input(int wait_ms) {
  const std::int64_t wait_until = monotonic_ms() + wait_ms;
  // Bounded in time, for a device that never stops sending.
  const std::int64_t give_up = wait_until + k_complete_reply_limit_ms;
  std::size_t dropped = 0;
  for (;;) {
    const std::int64_t now = monotonic_ms();
    if (now >= give_up) {
      break;
    }
    std::int64_t wait = std::max<std::int64_t>(wait_until - now, dropped > 0 ? k_quiet_line_ms : 0);
    wait = std::min(wait, give_up - now);
    const std::size_t got =
        receive_bytes(response_.data(), k_max_reply_bytes, static_cast<int>(wait));
    if (got == 0) {
      break;
    }
    dropped += got;
  }
  response_length_ = 0;
  response_[0] = '\0';
  return dropped;
}

void SerialLink::drop_answer(int sleep_ms) {
  const std::int64_t sleep_end = monotonic_ms() + sleep_ms;
  std::int64_t last_arrival = -1;
  for (std::int64_t now = monotonic_ms(); now < sleep_end; now = monotonic_ms()) {
    if (receive_bytes(response_.data(), k_max_reply_bytes, static_cast<int>(sleep_end - now)) ==
        0) {
      break;  // the sleep is over, or the device has hung up
    }
    last_arrival = monotonic_ms();
  }
  const bool began_late = last_arrival < 0 && receive_bytes(response_.data(), k_max_reply_bytes,
                                                            k_reply_timeout_ms) > 0;
  if (began_late || (last_arrival >= 0 && sleep_end - last_arrival < k_still_arriving_ms)) {
    drain_input(k_quiet_line_ms);
  }
  response_length_ = 0;
  response_[0] = '\0';
}

}  // namespace murve
