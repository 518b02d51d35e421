#include "device/serial_link_win32.h"

// After windows.h, which it needs.
#include <timeapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "device/signal_guard.h"

namespace murve {
namespace {

// Polling interval while waiting for the first byte of a reply.
constexpr DWORD k_poll_interval_ms = 1;
// The timer resolution asked for while the port is open: at the default 15.6 ms, Sleep(1) and
// the fixed sleeps of 10 and 50 ms would last up to 15.6 ms longer than meant.
constexpr UINT k_timer_resolution_ms = 1;
constexpr DWORD k_bits_per_byte = 10;  // start bit, eight data bits, stop bit
// The rate a write's bound is reckoned at when the port reports none (a Wine pseudo-terminal can).
constexpr DWORD k_assumed_baud = 300;
// COM names with more digits than this are taken as given: no port has such a number.
constexpr std::size_t k_max_com_digits = 9;

// The CBR_ rates, and the higher ones that USB adapters run at.
constexpr std::array<unsigned, 18> k_baud_rates = {
    CBR_110,    CBR_300,    CBR_600,   CBR_1200,   CBR_2400,  CBR_4800,
    CBR_9600,   CBR_14400,  CBR_19200, CBR_38400,  CBR_56000, CBR_57600,
    CBR_115200, CBR_128000, 230400,    CBR_256000, 460800,    921600,
};
static_assert(std::is_sorted(k_baud_rates.begin(), k_baud_rates.end()));

SystemError error_of(DWORD code) {
  return {static_cast<int>(code), system_error_text(static_cast<int>(code))};
}

// What a port whose device has gone answers: an unplugged USB adapter, depending on its driver,
// or (ERROR_NOT_READY) a Wine port whose pseudo-terminal has lost its other end.
bool port_gone(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

class Win32SerialLink final : public SerialLink {
 public:
  explicit Win32SerialLink(HANDLE handle) : handle_(handle) {}

  ~Win32SerialLink() override { close_port(); }

  // Saves what the port has, puts itself under the guard, then sets the line and the timeouts.
  OpenFailure take(const LineRequest& request, SystemError& error) {
    found_line_.DCBlength = sizeof found_line_;
    if (!GetCommState(handle_, &found_line_) || !GetCommTimeouts(handle_, &found_timeouts_)) {
      const DWORD code = GetLastError();
      error = error_of(code);
      // A file, a pipe, NUL: no serial port driver answers. Wine gives ERROR_INVALID_FUNCTION
      // for a port whose device is missing.
      return code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
                     code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_HANDLE
                 ? OpenFailure::not_a_serial_port
                 : OpenFailure::other;
    }
    guard_.emplace([this] { give_back(); });
    resolution_set_ = timeBeginPeriod(k_timer_resolution_ms) == TIMERR_NOERROR;
    DWORD baud = found_line_.BaudRate;
    if (request.baud != 0) {
      DCB line = found_line_;
      line.BaudRate = request.baud;
      line_changed_ = true;
      DCB now{};
      now.DCBlength = sizeof now;
      if (!SetCommState(handle_, &line)) {
        error = error_of(GetLastError());
        return OpenFailure::baud_refused;
      }
      // A driver may take a rate and run at another (Wine's pseudo-terminals do).
      if (!GetCommState(handle_, &now) || now.BaudRate != request.baud) {
        error = error_of(ERROR_INVALID_PARAMETER);
        return OpenFailure::baud_refused;
      }
      baud = request.baud;
    }
    // The timeouts set here, whatever the port had: a read returns at once with what is there,
    // for receive_bytes polls the queue itself (ClearCommError) and keeps the time; a write has a
    // bound, the time its bytes take on the line and k_send_stall_timeout_ms, so that one the
    // port can't send (flow control holding the line, a device that stopped reading) returns.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    const DWORD rate = baud > 0 ? baud : k_assumed_baud;
    timeouts.WriteTotalTimeoutMultiplier = (k_bits_per_byte * 1000 + rate - 1) / rate;
    timeouts.WriteTotalTimeoutConstant = k_send_stall_timeout_ms;
    timeouts_changed_ = true;
    if (!SetCommTimeouts(handle_, &timeouts)) {
      error = error_of(GetLastError());
      return OpenFailure::other;
    }
    flow_control_ = found_line_.fOutxCtsFlow != 0;
    return OpenFailure::none;
  }

  SendOutcome send_bytes(const void* data, std::size_t length) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return {error_of(ERROR_INVALID_HANDLE)};
    }
    DWORD written = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
      const DWORD code = GetLastError();
      if (port_gone(code)) {
        note_hang_up();  // unplugged while the command went out
      }
      return {error_of(code)};
    }
    // A write that ran out of its bound reports success with fewer bytes written.
    if (written < length) {
      PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
      SendOutcome outcome;
      outcome.stalled = true;
      return outcome;
    }
    return {};
  }

  std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) override {
    if (handle_ == INVALID_HANDLE_VALUE || hung_up() || capacity == 0) {
      return 0;
    }
    const std::int64_t deadline = monotonic_ms() + wait_ms;
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(handle_, &errors, &status)) {
        return read_failed(GetLastError());
      }
      if (status.cbInQue > 0) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, capacity));
        if (ReadFile(handle_, into, wanted, &got, nullptr)) {
          if (got > 0) {
            return got;
          }
        } else if (const DWORD code = GetLastError(); code != ERROR_OPERATION_ABORTED) {
          return read_failed(code);
        }
        // ERROR_OPERATION_ABORTED from a read: a line error on a port set to abort on errors;
        // ClearCommError, above, clears it.
      }
      if (monotonic_ms() >= deadline) {
        return 0;
      }
      Sleep(k_poll_interval_ms);
    }
  }

  void discard_input() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR);
    }
  }

  void sleep_ms(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  bool hardware_flow_control() const override { return flow_control_; }

  void close_port() override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return;
    }
    guard_.reset();  // gives the port back
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (resolution_set_) {
      timeEndPeriod(k_timer_resolution_ms);
      resolution_set_ = false;
    }
  }

 private:
  // Drops what the port has not sent (output the device never took must not reach it after the
  // run), and puts back the line and the timeouts found. Called by the guard, under its lock.
  void give_back() {
    PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
    // Only when changed: SetCommState can pulse the modem lines, and a port that reports no rate
    // (a Wine pseudo-terminal can) would be set to 0, which hangs a line up.
    if (line_changed_) {
      SetCommState(handle_, &found_line_);
    }
    if (timeouts_changed_) {
      SetCommTimeouts(handle_, &found_timeouts_);
    }
  }

  std::size_t read_failed(DWORD code) {
    if (port_gone(code)) {
      note_hang_up();
    }
    return 0;
  }

  HANDLE handle_;
  DCB found_line_{};
  COMMTIMEOUTS found_timeouts_{};
  bool line_changed_ = false;
  bool timeouts_changed_ = false;
  std::optional<GuardedPort> guard_;
  bool resolution_set_ = false;
  bool flow_control_ = false;
};

OpenFailure failure_of_open(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenFailure::no_such_device;
    // The share mode 0 of another program's open shows as a denied access to a COM port.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenFailure::in_use;
    default:
      return OpenFailure::other;
  }
}

PortOpening failed(OpenFailure failure, SystemError error) {
  PortOpening opening;
  opening.failure = failure;
  opening.error = std::move(error);
  return opening;
}

}  // namespace

PortOpening link_over_handle(HANDLE handle, const LineRequest& request) {
  auto link = std::make_unique<Win32SerialLink>(handle);
  // From here on the link's close_port gives back whatever was changed, on every path.
  SystemError error;
  if (const OpenFailure failure = link->take(request, error); failure != OpenFailure::none) {
    return failed(failure, std::move(error));
  }
  PortOpening opening;
  opening.link = std::move(link);
  return opening;
}

std::span<const unsigned> supported_baud_rates() {
  return k_baud_rates;
}

std::string system_error_text(int code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : "";
  LocalFree(text);
  // The system's text ends in a full stop (Japanese "。") and CR LF; the tool's messages are one
  // line each, and frame the text as a sentence in the user's language.
  constexpr std::string_view k_ideographic_full_stop = "\xe3\x80\x82";
  while (!message.empty()) {
    if (message.back() == '\r' || message.back() == '\n' || message.back() == ' ' ||
        message.back() == '.') {
      message.pop_back();
    } else if (message.ends_with(k_ideographic_full_stop)) {
      message.resize(message.size() - k_ideographic_full_stop.size());
    } else {
      break;
    }
  }
  if (message.empty()) {
    message = "system error " + std::to_string(code);
  }
  return message;
}

PortAddress port_for_number(int port_number) {
  PortAddress address;
  address.com_number = port_number;
  address.origin = PortOrigin::default_for_number;
  // The "\\.\" prefix is what opens ports above COM9.
  address.path = "\\\\.\\COM" + std::to_string(port_number);
  return address;
}

PortAddress port_named(const std::string& name) {
  PortAddress address;
  address.path = name;
  const std::string digits = name.size() > 3 ? name.substr(3) : "";
  if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
      digits.size() <= k_max_com_digits &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int number = std::stoi(digits);
    if (number > 0) {
      address.path = "\\\\.\\COM" + std::to_string(number);
      address.com_number = number;
    }
  }
  return address;
}

PortOpening open_port(const PortAddress& address, const LineRequest& request) {
  // Share mode 0: a port that another program has open fails here.
  HANDLE handle = CreateFileA(address.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return failed(failure_of_open(code), error_of(code));
  }
  return link_over_handle(handle, request);
}

}  // namespace murve
