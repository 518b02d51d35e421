#pragma once

// The serial line between murvesim's console and the host, as the clock sees it: bytes take their
// time on the wire, and a USB adapter hands what arrives to the host in chunks. No I/O here;
// the caller reads, writes and waits.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace murvesim {

using Clock = std::chrono::steady_clock;

// The time a byte takes on a line of `baud`, ten bits to a byte (8N1).
Clock::duration byte_time(long baud);

// One direction of a line: each byte comes off one byte time after the one before it, or after
// it was sent when the line was idle.
class Wire {
 public:
  explicit Wire(Clock::duration byte_time) : byte_time_(byte_time) {}

  // Puts `bytes` on the wire from `at` on, or from when the bytes before them are off.
  void send(Clock::time_point at, std::string_view bytes);

  bool empty() const { return bytes_.empty(); }
  std::size_t size() const { return bytes_.size(); }
  // When the byte `index` places from the front comes off; index < size().
  Clock::time_point arrival(std::size_t index = 0) const { return bytes_[index].first; }
  // Takes the byte at the front off the wire.
  char take();
  // When the last byte sent comes off.
  Clock::time_point free_at() const { return free_at_; }

 private:
  Clock::duration byte_time_;
  std::deque<std::pair<Clock::time_point, char>> bytes_;
  Clock::time_point free_at_{};
};

// The line from the device to a USB serial adapter, and the adapter: what comes off the line
// collects there and goes to the host as one chunk once `chunk_bytes` have collected, or
// `latency` after the chunk's first byte came off, whichever is first.
class UsbAdapter {
 public:
  UsbAdapter(Clock::duration byte_time, std::size_t chunk_bytes, Clock::duration latency)
      : wire_(byte_time), chunk_bytes_(chunk_bytes), latency_(latency) {}

  // The device sends `bytes` from `at` on, or from when the line is free.
  void send(Clock::time_point at, std::string_view bytes);
  // When the last byte the device sent comes off the line.
  Clock::time_point line_free_at() const { return wire_.free_at(); }

  // Takes in what comes off the line up to `until`, closing the chunks due by then.
  void advance(Clock::time_point until);
  // When the next chunk is due, as far as what is on the line now goes.
  std::optional<Clock::time_point> next_chunk() const;
  // The chunks closed and not yet taken by the host, oldest first.
  std::string& delivered() { return delivered_; }

 private:
  void close_chunk();

  Wire wire_;
  std::size_t chunk_bytes_;
  Clock::duration latency_;
  std::string collected_;
  Clock::time_point first_at_{};
  std::string delivered_;
};

}  // namespace murvesim
