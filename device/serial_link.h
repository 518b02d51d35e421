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
// Once leftovers turn up, they are taken to go on until the line has been quiet this long; on a
// slow line the rest of an earlier reply is still on its way.
inline constexpr int k_quiet_line_ms = 20;
// An answer whose last byte came this close to the end of the sleep after its command is taken
// to be still coming; a device at full speed has long finished by then.
inline constexpr int k_still_arriving_ms = 4;

using ResponseBuffer = std::array<char, k_response_capacity>;

// Tells from the reply text so far whether more of it is still to come.
using ReplyIncomplete = bool (*)(const char* reply);

// What the system said when a port operation failed.
struct SystemError {
  int code = 0;      // errno, or GetLastError() on Windows; 0 when nothing failed
  std::string text;  // the system's own words for it

  bool failed() const { return code != 0; }
};

// The one serial port of a run, with the latest reply the device sent. The platform files
// provide the port itself; tests provide fakes.
class SerialLink {
 public:
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;
  virtual ~SerialLink() = default;

  // One write of all `length` bytes; what the system said when it failed.
  virtual SystemError send_bytes(const void* data, std::size_t length) = 0;

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

  // Drops whatever the device sends for the next `wait_ms`, and then for as long as it goes on
  // sending without a pause of k_quiet_line_ms (k_complete_reply_limit_ms at most); gives how
  // many bytes were dropped. With no wait, it drops only leftovers and the rest of them.
  std::size_t drain_input(int wait_ms = 0);

  // Sleeps `sleep_ms`, dropping what the device sends meanwhile, for an answer that is not looked
  // at. When that answer was still coming at the end of the sleep, or began only after it (within
  // k_reply_timeout_ms), it is dropped until the line has been quiet for k_quiet_line_ms, so that
  // its rest is not taken for the beginning of the next answer. Leaves the reply empty.
  void drop_answer(int sleep_ms);

  // The reply as text, up to its first NUL byte.
  const char* response() const { return response_.data(); }

  // How many bytes the last reply had, NUL bytes included: 0 when nothing came.
  std::size_t response_size() const { return response_length_; }

  // Whether the device has hung up: nothing more will come from it.
  bool hung_up() const { return hung_up_; }

 protected:
  SerialLink() = default;

  // Waits up to `wait_ms` for received bytes, then reads what is queued, at most `capacity`
  // bytes. Gives the count, or 0 after the wait, on a hang-up or on an error.
  virtual std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) = 0;

  // Milliseconds on a clock that never goes back.
  virtual std::int64_t monotonic_ms();

  void note_hang_up() { hung_up_ = true; }

 private:
  std::size_t append_response(int wait_ms);

  ResponseBuffer response_{};
  std::size_t response_length_ = 0;  // bytes read into the reply, NUL bytes among them included
  bool hung_up_ = false;
};

// COM ports are numbered 1 to this.
inline constexpr std::int32_t k_port_count = 16;

// Unsigned, so that 0 and every negative number fall outside along with 17 and above.
constexpr bool is_port_number(std::int32_t port_number) {
  return static_cast<std::uint32_t>(port_number) - 1 < static_cast<std::uint32_t>(k_port_count);
}

enum class OpenFailure {
  none,
  no_such_device,
  permission_denied,
  in_use,             // another program holds the port
  not_a_serial_port,  // it opened, but is no terminal device
  other,
};

// The port of a run, or why it could not be opened.
struct PortOpening {
  std::unique_ptr<SerialLink> link;  // null when the port did not open
  std::string path;                  // the device path tried
  OpenFailure failure = OpenFailure::none;
  SystemError error;
  // POSIX: the variable that names the device of this port ("MURVECOLOR_COM5"), and whether it
  // did; when it is unset or empty, the default path was tried.
  std::string port_variable;
  bool path_from_variable = false;
  // permission_denied: the group the device belongs to, when it could be found.
  std::string device_group;
};

// Opens COM `port_number` for exclusive use.
PortOpening open_port(int port_number);

// The system's own words for an error code of this platform (errno, or GetLastError()).
std::string system_error_text(int code);

}  // namespace murve
