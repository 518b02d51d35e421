#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

using ResponseBuffer = std::array<char, k_response_capacity>;

// Tells from the reply text so far whether more of it is still to come.
using ReplyIncomplete = bool (*)(const char* reply);

// The one serial port of a run, with the latest reply the device sent. The platform files
// provide the port itself; tests provide fakes.
class SerialLink {
 public:
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;
  virtual ~SerialLink() = default;

  // One write of all `length` bytes; false when the system reports an error.
  virtual bool send_bytes(const void* data, std::size_t length) = 0;

  virtual void sleep_ms(int milliseconds) = 0;

  // Closes the port and gives it back as it was found; later calls do nothing.
  virtual void close_port() = 0;

  // Refills the reply with what the device has sent and the tool has not read yet, up to
  // k_max_reply_bytes, once at least one byte is there; empty after k_reply_timeout_ms of
  // silence, a hang-up or an error.
  void read_response();

  // Goes on reading into the reply while `incomplete` says more of it is to come and its bytes
  // keep arriving, each within k_further_byte_timeout_ms, until the buffer is full.
  void complete_response(ReplyIncomplete incomplete);

  // Drops what the device has sent and the tool has not read yet, and, when there was some, the
  // rest of it that is still arriving.
  void discard_input();

  // The reply as text, up to its first NUL byte.
  const char* response() const { return response_.data(); }

 protected:
  SerialLink() = default;

  // Waits up to `wait_ms` for received bytes, then reads what is queued, at most `capacity`
  // bytes. Gives the count, or 0 after the wait, on a hang-up or on an error.
  virtual std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) = 0;

  // Milliseconds on a clock that never goes back.
  virtual std::int64_t monotonic_ms();

 private:
  std::size_t append_response(int wait_ms);

  ResponseBuffer response_{};
  std::size_t response_length_ = 0;  // bytes read into the reply, NUL bytes among them included
};

// COM ports are numbered 1 to this.
inline constexpr std::int32_t k_port_count = 16;

// Unsigned, so that 0 and every negative number fall outside along with 17 and above.
constexpr bool is_port_number(std::int32_t port_number) {
  return static_cast<std::uint32_t>(port_number) - 1 < static_cast<std::uint32_t>(k_port_count);
}

// Opens COM `port_number` for exclusive use; null when it can't be opened.
std::unique_ptr<SerialLink> open_port(int port_number);

// The device path that COM `port_number` opens on this platform.
std::string port_device_path(int port_number);

}  // namespace murve
