#include "device/dialogue.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace murve {
namespace {

bool ends_in_prompt(std::string_view text) {
  return text.ends_with(k_console_prompt);
}

bool got_any(std::size_t taken) {
  return taken > 0;
}

bool never(std::size_t) {
  return false;
}

}  // namespace

void DroppedBytes::add(const char* bytes, std::size_t count) {
  kept_.append(bytes, std::min(count, k_max_reply_bytes - kept_.size()));
  tail_.append(bytes, count);
  tail_.erase(0, tail_.size() - std::min(tail_.size(), std::strlen(k_console_prompt)));
  size_ += count;
}

bool DroppedBytes::ends_in_prompt() const {
  return murve::ends_in_prompt(tail_);
}

SendOutcome Dialogue::send_bytes(const void* data, std::size_t length) {
  SendOutcome sent = link_.send_bytes(data, length);
  last_sent_at_ = link_.monotonic_ms();
  return sent;
}

Dialogue::ReadBounds Dialogue::bounds_from_now(int first_byte_ms, int gap_ms, int total_ms) {
  const std::int64_t now = link_.monotonic_ms();
  return {now + first_byte_ms, gap_ms, now + total_ms};
}

std::size_t Dialogue::read_until(const ReadBounds& bounds,
                                 const std::function<bool(std::size_t)>& done,
                                 DroppedBytes* dropped) {
  std::array<char, k_max_reply_bytes> chunk;
  std::size_t taken = 0;
  for (;;) {
    const std::int64_t now = link_.monotonic_ms();
    if (done(taken) || now >= bounds.give_up_at ||
        (dropped == nullptr && reply_length_ >= k_max_reply_bytes)) {
      return taken;
    }
    const std::int64_t until =
        taken == 0 ? bounds.first_byte_by : std::max(bounds.first_byte_by, now + bounds.gap_ms);
    const int wait_ms =
        static_cast<int>(std::max<std::int64_t>(0, std::min(until, bounds.give_up_at) - now));
    const std::size_t got = dropped != nullptr
                                ? link_.receive_bytes(chunk.data(), chunk.size(), wait_ms)
                                : link_.receive_bytes(reply_.data() + reply_length_,
                                                      k_max_reply_bytes - reply_length_, wait_ms);
    if (got == 0) {
      return taken;
    }
    if (dropped != nullptr) {
      dropped->add(chunk.data(), got);
    } else {
      reply_length_ += got;
      reply_[reply_length_] = '\0';
    }
    taken += got;
  }
}

void Dialogue::read_response() {
  reply_length_ = 0;
  reply_[0] = '\0';
  read_until(bounds_from_now(k_reply_timeout_ms, 0, k_reply_timeout_ms), got_any);
}

void Dialogue::complete_reply(ReplyIncomplete incomplete) {
  // Past a NUL byte the text can't change any more, whatever else arrives.
  read_until(bounds_from_now(k_further_byte_timeout_ms, k_further_byte_timeout_ms,
                             k_complete_reply_limit_ms),
             [this, incomplete](std::size_t) {
               return std::strlen(reply_.data()) != reply_length_ || !incomplete(reply_.data());
             });
}

void Dialogue::read_to_prompt() {
  read_until(bounds_from_now(k_further_byte_timeout_ms, k_further_byte_timeout_ms,
                             k_complete_reply_limit_ms),
             [this](std::size_t) {
               return ends_in_prompt({reply_.data(), reply_length_});
             });
}

DroppedBytes Dialogue::discard_leftovers(int wait_ms, int quiet_ms) {
  DroppedBytes dropped;
  // Bounded in time, for a device that never stops sending.
  read_until(bounds_from_now(wait_ms, quiet_ms, wait_ms + k_complete_reply_limit_ms), never,
             &dropped);
  return dropped;
}

void Dialogue::discard_stale_input() {
  link_.discard_input();
  discard_leftovers();
}

bool Dialogue::drop_reply(int sleep_ms) {
  DroppedBytes dropped;
  read_until(bounds_from_now(sleep_ms, 0, sleep_ms), never, &dropped);
  if (dropped.size() == 0 && read_until(bounds_from_now(k_reply_timeout_ms, 0, k_reply_timeout_ms),
                                        got_any, &dropped) == 0) {
    return false;
  }
  // A console may send its prompt a while after the line before it: the reply is over at the
  // prompt, or once the line has been quiet as long as any pause within a reply.
  read_until(
      bounds_from_now(k_further_byte_timeout_ms, k_further_byte_timeout_ms,
                      k_complete_reply_limit_ms),
      [&dropped](std::size_t) { return dropped.ends_in_prompt(); }, &dropped);
  return true;
}

bool Dialogue::drop_late_reply() {
  const std::int64_t window_end = last_sent_at_ + k_late_reply_window_ms;
  DroppedBytes dropped;
  return read_until({window_end, k_quiet_line_ms, window_end + k_complete_reply_limit_ms}, never,
                    &dropped) > 0;
}

}  // namespace murve
