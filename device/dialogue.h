#pragma once

// The dialogue's policy over a serial link: what counts as an answer, what is a leftover of an
// earlier one, and how long to wait for either. The link only moves bytes.

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/serial_link.h"

namespace murve {

inline constexpr std::size_t k_response_capacity = 4096;
// One read takes at most this much, so a reply and its terminating NUL always fit.
inline constexpr std::size_t k_max_reply_bytes = k_response_capacity - 1;
// How long a reply may take to begin; a port where nothing answers gives an empty reply then.
inline constexpr int k_reply_timeout_ms = 1000;
// While a reply is being completed, how long to wait for each further byte of it.
inline constexpr int k_further_byte_timeout_ms = 100;
// How long completing one reply may take in all, however slowly its bytes come.
inline constexpr int k_complete_reply_limit_ms = 3000;
// Once leftovers turn up, they are taken to go on until the line has been quiet this long; on a
// slow line the rest of an earlier reply is still on its way.
inline constexpr int k_quiet_line_ms = 20;
// The console ends every answer with its prompt: an answer that ends in it is over. One that
// does not is taken to go on while its bytes keep coming within k_further_byte_timeout_ms, as a
// reply being completed does: longer than a USB adapter holds back the last bytes of an answer.
inline constexpr const char* k_console_prompt = "> ";

using ResponseBuffer = std::array<char, k_response_capacity>;

// Tells from the reply text so far whether more of it is still to come.
using ReplyIncomplete = bool (*)(const char* reply);

// The command-and-reply dialogue over one link, with the latest reply the device sent.
class Dialogue {
 public:
  explicit Dialogue(SerialLink& link) : link_(link) {}
  Dialogue(const Dialogue&) = delete;
  Dialogue& operator=(const Dialogue&) = delete;

  SerialLink& link() { return link_; }

  SendOutcome send_bytes(const void* data, std::size_t length) {
    return link_.send_bytes(data, length);
  }
  void sleep_ms(int milliseconds) { link_.sleep_ms(milliseconds); }

  // Refills the reply with what the device has sent and the tool has not read yet, up to
  // k_max_reply_bytes, once at least one byte is there; empty after k_reply_timeout_ms of
  // silence, a hang-up or an error.
  void read_response();

  // Goes on reading into the reply while `incomplete` says more of it is to come and its bytes
  // keep arriving, each within k_further_byte_timeout_ms, until the buffer is full.
  void complete_response(ReplyIncomplete incomplete);

  // Takes what the device sends for the next `wait_ms`, and then for as long as it goes on
  // sending without a pause of `quiet_ms` (k_complete_reply_limit_ms at most), and drops it;
  // gives how many bytes there were. With no wait it takes only leftovers and the rest of them.
  // What was taken, as text, is kept (up to a buffer) for discarded_text().
  std::size_t discard_leftovers(int wait_ms = 0, int quiet_ms = k_quiet_line_ms);

  // What the last discard_leftovers took, up to its first NUL and at most k_max_reply_bytes.
  const char* discarded_text() const { return response_.data(); }

  // Drops what the port holds from before (an interrupted run's late answers, say), and what
  // the device is still sending, without waiting when the line is quiet.
  void discard_stale_input();

  // Goes on reading into the reply until it ends in the console's prompt, or no byte has come
  // for k_further_byte_timeout_ms (k_complete_reply_limit_ms at most, or a full buffer): the rest
  // of an answer that the line delivers in chunks.
  void finish_answer();

  // Sleeps `sleep_ms`, dropping what the device sends meanwhile, for an answer that is not looked
  // at. When that answer does not end in the prompt by then, or began only after the sleep
  // (within k_reply_timeout_ms), it is dropped until no byte has come for
  // k_further_byte_timeout_ms, so that its rest is not taken for the beginning of the next
  // answer. Leaves the reply empty.
  void drop_answer(int sleep_ms);

  // The reply as text, up to its first NUL byte.
  const char* response() const { return response_.data(); }

  // How many bytes the last reply had, NUL bytes included: 0 when nothing came.
  std::size_t response_size() const { return response_length_; }

  bool hung_up() const { return link_.hung_up(); }

 private:
  std::size_t append_response(int wait_ms);
  void clear_response();

  SerialLink& link_;
  ResponseBuffer response_{};
  std::size_t response_length_ = 0;  // bytes read into the reply, NUL bytes among them included
};

}  // namespace murve
