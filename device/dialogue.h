#pragma once

// The dialogue's policy over a serial link: what counts as a reply, what is a leftover of an
// earlier one, and how long to wait for either. The link only moves bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "device/serial_link.h"

namespace murve {

inline constexpr std::size_t k_reply_capacity = 4096;
// One read takes at most this much, so a reply and its terminating NUL always fit.
inline constexpr std::size_t k_max_reply_bytes = k_reply_capacity - 1;

// The dialogue's timing. The console is given a fixed sleep after each command before its reply
// is read: after the wake and h, after each write, after each read command.
inline constexpr int k_identify_sleep_ms = 10;
inline constexpr int k_write_sleep_ms = 50;
inline constexpr int k_read_sleep_ms = 10;
// How long a reply may take to begin; a port where nothing replies gives an empty reply then.
inline constexpr int k_reply_timeout_ms = 1000;
// While a reply is being completed, how long to wait for each further byte of it.
inline constexpr int k_further_byte_timeout_ms = 100;
// How long completing one reply may take in all, however slowly its bytes come.
inline constexpr int k_complete_reply_limit_ms = 3000;
// Once leftovers turn up, they are taken to go on until the line has been quiet this long; on a
// slow line the rest of an earlier reply is still on its way.
inline constexpr int k_quiet_line_ms = 20;
// A read reply that has not begun by the time its reading gave up is waited for until this long
// after its command, and dropped, so that it is never taken for the next block's.
inline constexpr int k_late_reply_window_ms = 2600;
static_assert(k_late_reply_window_ms >
              k_read_sleep_ms + k_reply_timeout_ms + k_further_byte_timeout_ms);
// How long the line must stay quiet after each reply of a backup: longer than any pause within
// a reply (k_further_byte_timeout_ms), so that all the device sent for a command is seen.
inline constexpr int k_backup_quiet_ms = 150;
static_assert(k_backup_quiet_ms > k_further_byte_timeout_ms);

// The console ends every reply with its prompt: a reply that ends in it is over. One that does
// not is taken to go on while its bytes keep coming within k_further_byte_timeout_ms, as a
// reply being completed does: longer than a USB adapter holds back the last bytes of a reply.
inline constexpr const char* k_console_prompt = "> ";

using ResponseBuffer = std::array<char, k_reply_capacity>;

// Tells from the reply text so far whether more of it is still to come.
using ReplyIncomplete = bool (*)(const char* reply);

// What the dialogue took from the device and dropped: the first k_max_reply_bytes of it, and how
// many bytes there were in all.
class DroppedBytes {
 public:
  void add(const char* bytes, std::size_t count);

  // The first bytes as text, up to their first NUL.
  const char* text() const { return kept_.c_str(); }
  std::size_t size() const { return size_; }
  bool ends_in_prompt() const;

 private:
  std::string kept_;
  std::string tail_;  // the last bytes, as many as the prompt has
  std::size_t size_ = 0;
};

// The command-and-reply dialogue over one link, with the latest reply the device sent.
class Dialogue {
 public:
  explicit Dialogue(SerialLink& link) : link_(link) {}
  Dialogue(const Dialogue&) = delete;
  Dialogue& operator=(const Dialogue&) = delete;

  // Notes when the command went out, for drop_late_reply().
  SendOutcome send_bytes(const void* data, std::size_t length);
  void sleep_ms(int milliseconds) { link_.sleep_ms(milliseconds); }

  // Refills the reply with what the device has sent and the tool has not read yet, up to
  // k_max_reply_bytes, once at least one byte is there; empty after k_reply_timeout_ms of
  // silence, a hang-up or an error.
  void read_response();

  // Goes on reading into the reply while `incomplete` says more of it is to come and its bytes
  // keep arriving, each within k_further_byte_timeout_ms, until the buffer is full.
  void complete_reply(ReplyIncomplete incomplete);

  // Goes on reading into the reply until it ends in the console's prompt, or no byte has come
  // for k_further_byte_timeout_ms (k_complete_reply_limit_ms at most, or a full buffer): the rest
  // of a reply that the line delivers in chunks.
  void read_to_prompt();

  // Takes what the device sends for the next `wait_ms`, and then for as long as it goes on
  // sending without a pause of `quiet_ms` (k_complete_reply_limit_ms at most), and drops it.
  // With no wait it takes only leftovers and the rest of them.
  DroppedBytes discard_leftovers(int wait_ms = 0, int quiet_ms = k_quiet_line_ms);

  // Drops what the port holds from before (an interrupted run's late replies, say), and what
  // the device is still sending, without waiting when the line is quiet.
  void discard_stale_input();

  // Sleeps `sleep_ms`, dropping what the device sends meanwhile, for a reply that is not looked
  // at. When that reply does not end in the prompt by then, or began only after the sleep
  // (within k_reply_timeout_ms), it is dropped until it ends in the prompt or no byte has come
  // for k_further_byte_timeout_ms (k_complete_reply_limit_ms at most), so that its rest is not
  // taken for the beginning of the next one. Gives whether any reply came, in the sleep or after
  // it within k_reply_timeout_ms.
  bool drop_reply(int sleep_ms);

  // Waits until k_late_reply_window_ms after the last command for a reply to it that has not
  // begun yet, and drops it with its rest; gives whether one came.
  bool drop_late_reply();

  // The reply as text, up to its first NUL byte.
  const char* reply() const { return reply_.data(); }

  // How many bytes the last reply had, NUL bytes included: 0 when nothing came.
  std::size_t reply_size() const { return reply_length_; }

  bool hung_up() const { return link_.hung_up(); }

 private:
  // When a read ends, on the link's clock.
  struct ReadBounds {
    std::int64_t first_byte_by;  // waits for a first byte until then, taking all that comes
    int gap_ms;                  // then goes on while each further byte comes within this
    std::int64_t give_up_at;     // and stops then at the latest
  };

  ReadBounds bounds_from_now(int first_byte_ms, int gap_ms, int total_ms);

  // The one way the dialogue reads: until `done` (given the bytes taken so far) holds or the
  // bounds end it, into the reply after what it holds (never past a full buffer) or, when
  // `dropped` is given, into that; gives how many bytes came.
  std::size_t read_until(const ReadBounds& bounds, const std::function<bool(std::size_t)>& done,
                         DroppedBytes* dropped = nullptr);

  SerialLink& link_;
  ResponseBuffer reply_{};
  std::size_t reply_length_ = 0;  // bytes read into the reply, NUL bytes among them included
  std::int64_t last_sent_at_ = 0;
};

}  // namespace murve
