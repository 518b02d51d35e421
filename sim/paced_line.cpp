#include "sim/paced_line.h"

#include <algorithm>

namespace murvesim {

Clock::duration byte_time(long baud) {
  constexpr long long k_ns_per_second = 1000000000LL;
  constexpr long long k_bits_per_byte = 10;  // start bit, eight data bits, stop bit
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::nanoseconds(k_bits_per_byte * k_ns_per_second / baud));
}

void Wire::send(Clock::time_point at, std::string_view bytes) {
  for (char byte : bytes) {
    free_at_ = std::max(free_at_, at) + byte_time_;
    bytes_.emplace_back(free_at_, byte);
  }
}

char Wire::take() {
  const char byte = bytes_.front().second;
  bytes_.pop_front();
  return byte;
}

void UsbAdapter::send(Clock::time_point at, std::string_view bytes) {
  // What came off before `at` is in chunks of its own already.
  advance(at);
  wire_.send(at, bytes);
}

void UsbAdapter::advance(Clock::time_point until) {
  for (;;) {
    const bool collecting = !collected_.empty();
    // A byte coming off at the very moment the chunk is due still goes with it.
    if (collecting && (wire_.empty() || first_at_ + latency_ < wire_.arrival())) {
      if (first_at_ + latency_ > until) {
        return;
      }
      close_chunk();
      continue;
    }
    if (wire_.empty() || wire_.arrival() > until) {
      return;
    }
    if (!collecting) {
      first_at_ = wire_.arrival();
    }
    collected_ += wire_.take();
    if (collected_.size() >= chunk_bytes_) {
      close_chunk();
    }
  }
}

std::optional<Clock::time_point> UsbAdapter::next_chunk() const {
  if (collected_.empty() && wire_.empty()) {
    return std::nullopt;
  }
  const Clock::time_point first = collected_.empty() ? wire_.arrival() : first_at_;
  const std::size_t missing = chunk_bytes_ - collected_.size();
  const Clock::time_point timed_out = first + latency_;
  return wire_.size() >= missing ? std::min(timed_out, wire_.arrival(missing - 1)) : timed_out;
}

void UsbAdapter::close_chunk() {
  delivered_ += collected_;
  collected_.clear();
}

}  // namespace murvesim
