#pragma once

// The serial port itself: open, send, timed read, discard, line settings. What the dialogue
// makes of the bytes (answers, leftovers, late answers) is in device/dialogue.h.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace murve {

// How long a send may make no progress (flow control holding the line, a device that has
// stopped reading) before it counts as failed.
inline constexpr int k_send_stall_timeout_ms = 1000;

// What the system said when a port operation failed.
struct SystemError {
  int code = 0;      // errno, or GetLastError() on Windows; 0 when nothing failed
  std::string text;  // the system's own words for it

  bool failed() const { return code != 0; }
};

// How one send went.
struct SendOutcome {
  SystemError error;     // the system refused the write
  bool stalled = false;  // the port took no byte for k_send_stall_timeout_ms; what it still held
                         // of the command was discarded

  bool failed() const { return stalled || error.failed(); }
};

// The one serial port of a run. The platform files provide the port itself; tests provide fakes.
class SerialLink {
 public:
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;
  virtual ~SerialLink() = default;

  // Sends all `length` bytes and waits, within a bound, until the port has put them on the line.
  virtual SendOutcome send_bytes(const void* data, std::size_t length) = 0;

  // Waits up to `wait_ms` for received bytes, then reads what is queued, at most `capacity`
  // bytes. Gives the count, or 0 after the wait, on a hang-up or on an error.
  virtual std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) = 0;

  // Drops what the port has received and not been read yet.
  virtual void discard_input() = 0;

  virtual void sleep_ms(int milliseconds) = 0;

  // Milliseconds on a clock that never goes back.
  virtual std::int64_t monotonic_ms();

  // Whether the line stops sending when the device is not ready (RTS/CTS).
  virtual bool hardware_flow_control() const = 0;

  // Drops what the port has not sent yet, gives the port back as it was found, and closes it;
  // later calls do nothing.
  virtual void close_port() = 0;

  // Whether the device has hung up: nothing more will come from it.
  bool hung_up() const { return hung_up_; }

 protected:
  SerialLink() = default;

  void note_hang_up() { hung_up_ = true; }

 private:
  bool hung_up_ = false;
};

// COM ports are numbered 1 to this with -com.
inline constexpr std::int32_t k_port_count = 16;

// Unsigned, so that 0 and every negative number fall outside along with 17 and above.
constexpr bool is_port_number(std::int32_t port_number) {
  return static_cast<std::uint32_t>(port_number) - 1 < static_cast<std::uint32_t>(k_port_count);
}

enum class PortOrigin {
  named,               // the user named the port itself (-port)
  variable,            // POSIX: MURVECOLOR_COM<n> names the device of COM n
  default_for_number,  // the path COM n has when nothing else names it
};

// Where a port is to be found.
struct PortAddress {
  std::string path;    // what is opened: "/dev/ttyUSB0", "\\.\COM5"
  int com_number = 0;  // the COM number it was reached by; 0 when the user named the port
  PortOrigin origin = PortOrigin::named;
  std::string variable;  // POSIX: the variable that maps this COM number ("MURVECOLOR_COM5")
};

// COM `port_number`: on Windows \\.\COMn; on POSIX the path MURVECOLOR_COM<n> names, or else
// /dev/ttyS<n-1>.
PortAddress port_for_number(int port_number);

// A port the user named: on POSIX a path; on Windows COMn for any n, or a device path.
PortAddress port_named(const std::string& name);

// The line rates the port layer can set, in increasing order.
std::span<const unsigned> supported_baud_rates();

bool is_supported_baud_rate(unsigned baud);

// How the line is to run while the tool has it; what is not asked for stays as found.
struct LineRequest {
  unsigned baud = 0;  // 0: the rate the port has
};

enum class OpenFailure {
  none,
  no_such_device,
  no_hardware,  // the node is there, but no UART answers behind it
  permission_denied,
  in_use,             // another program holds the port
  not_a_serial_port,  // it opened, but is no terminal device
  baud_refused,       // the port does not run at the rate asked for
  other,
};

// permission_denied: who may open the device, as far as the system tells.
struct DeviceAccess {
  std::string owner;  // the user who owns it
  std::string group;  // a group (not root's) whose members may read and write it; empty if none
};

// The port of a run, or why it could not be opened.
struct PortOpening {
  std::unique_ptr<SerialLink> link;  // null when the port did not open
  OpenFailure failure = OpenFailure::none;
  SystemError error;
  DeviceAccess access;
};

// Opens the port for exclusive use and sets the line: raw, at the rate asked for, the rest as
// found. What it holds from before is the dialogue's to discard (Dialogue::discard_stale_input).
PortOpening open_port(const PortAddress& address, const LineRequest& request = {});

// The system's own words for an error code of this platform (errno, or GetLastError()).
std::string system_error_text(int code);

// A line that goes to standard error if the tool is stopped by a signal (or Ctrl+C) while the
// text is set; empty clears it. Written from the signal handler, so it is kept whole beforehand.
void set_interruption_notice(std::string_view text);

}  // namespace murve
