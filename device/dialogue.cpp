#include "device/dialogue.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace murve {
namespace {

bool ends_in_prompt(std::string_view text) {
  return text.size() >= std::strlen(k_console_prompt) &&
         text.substr(text.size() - std::strlen(k_console_prompt)) == k_console_prompt;
}

}  // namespace

void Dialogue::clear_response() {
  response_length_ = 0;
  response_[0] = '\0';
}

void Dialogue::read_response() {
  response_length_ = link_.receive_bytes(response_.data(), k_max_reply_bytes, k_reply_timeout_ms);
  response_[response_length_] = '\0';
}

std::size_t Dialogue::append_response(int wait_ms) {
  const std::size_t received = link_.receive_bytes(response_.data() + response_length_,
                                                   k_max_reply_bytes - response_length_, wait_ms);
  response_length_ += received;
  response_[response_length_] = '\0';
  return received;
}

void Dialogue::complete_response(ReplyIncomplete incomplete) {
  const std::int64_t deadline = link_.monotonic_ms() + k_complete_reply_limit_ms;
  // Past a NUL byte the text can't change any more, whatever else arrives.
  while (response_length_ < k_max_reply_bytes &&
         std::strlen(response_.data()) == response_length_ && incomplete(response_.data())) {
    const std::int64_t remaining = deadline - link_.monotonic_ms();
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

std::size_t Dialogue::discard_leftovers(int wait_ms, int quiet_ms) {
  const std::int64_t wait_until = link_.monotonic_ms() + wait_ms;
  // Bounded in time, for a device that never stops sending.
  const std::int64_t give_up = wait_until + k_complete_reply_limit_ms;
  std::size_t dropped = 0;
  std::array<char, 512> overflow{};
  clear_response();
  for (;;) {
    const std::int64_t now = link_.monotonic_ms();
    if (now >= give_up) {
      break;
    }
    std::int64_t wait = std::max<std::int64_t>(wait_until - now, dropped > 0 ? quiet_ms : 0);
    wait = std::min(wait, give_up - now);
    // The first buffer's worth is kept for discarded_text(); the rest only counted.
    const bool room = response_length_ < k_max_reply_bytes;
    const std::size_t got =
        room ? append_response(static_cast<int>(wait))
             : link_.receive_bytes(overflow.data(), overflow.size(), static_cast<int>(wait));
    if (got == 0) {
      break;
    }
    dropped += got;
  }
  return dropped;
}

void Dialogue::discard_stale_input() {
  link_.discard_input();
  discard_leftovers();
  clear_response();
}

void Dialogue::finish_answer() {
  const std::int64_t give_up = link_.monotonic_ms() + k_complete_reply_limit_ms;
  for (;;) {
    const std::int64_t remaining = give_up - link_.monotonic_ms();
    if (ends_in_prompt({response_.data(), response_length_}) ||
        response_length_ >= k_max_reply_bytes || remaining <= 0 ||
        append_response(
            static_cast<int>(std::min<std::int64_t>(remaining, k_further_byte_timeout_ms))) == 0) {
      return;
    }
  }
}

void Dialogue::drop_answer(int sleep_ms) {
  const std::int64_t sleep_end = link_.monotonic_ms() + sleep_ms;
  bool arrived = false;
  std::string tail;  // the last bytes that came, to see whether the answer ended in the prompt
  for (std::int64_t now = link_.monotonic_ms(); now < sleep_end; now = link_.monotonic_ms()) {
    const std::size_t got =
        link_.receive_bytes(response_.data(), k_max_reply_bytes, static_cast<int>(sleep_end - now));
    if (got == 0) {
      break;  // the sleep is over, or the device has hung up
    }
    arrived = true;
    tail.append(response_.data(), got);
    tail.erase(0, tail.size() > std::strlen(k_console_prompt)
                      ? tail.size() - std::strlen(k_console_prompt)
                      : 0);
  }
  const bool began_late =
      !arrived && link_.receive_bytes(response_.data(), k_max_reply_bytes, k_reply_timeout_ms) > 0;
  const bool may_go_on = arrived && !ends_in_prompt(tail);
  if (began_late || may_go_on) {
    discard_leftovers(k_quiet_line_ms, k_further_byte_timeout_ms);
  }
  clear_response();
}

}  // namespace murve
