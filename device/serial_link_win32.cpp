#include "device/serial_link_win32.h"

// After windows.h, which it needs.
#include <timeapi.h>

#include <cstdio>

namespace murve {
namespace {

// Polling interval while waiting for the first byte of a reply.
constexpr DWORD k_poll_interval_ms = 1;
// The timer resolution asked for while the port is open: at the default 15.6 ms, Sleep(1) and
// the fixed sleeps of 10 and 50 ms would last up to 15.6 ms longer than meant.
constexpr UINT k_timer_resolution_ms = 1;
// A write's bound when the port has none: this long, plus the time its bytes take on the line.
constexpr DWORD k_write_timeout_ms = 1000;
constexpr DWORD k_bits_per_byte = 10;  // start bit, eight data bits, stop bit

SystemError error_of(DWORD code) {
  return {static_cast<int>(code), system_error_text(static_cast<int>(code))};
}

class Win32SerialLink final : public SerialLink {
 public:
  explicit Win32SerialLink(HANDLE handle) : handle_(handle) {
    resolution_set_ = timeBeginPeriod(k_timer_resolution_ms) == TIMERR_NOERROR;
    bound_writes();
  }

  ~Win32SerialLink() override { close_port(); }

  SystemError send_bytes(const void* data, std::size_t length) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return error_of(ERROR_INVALID_HANDLE);
    }
    DWORD written = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
      return error_of(GetLastError());
    }
    // A write that ran out of its time reports success with fewer bytes written.
    if (written != length) {
      return error_of(ERROR_TIMEOUT);
    }
    return {};
  }

  void sleep_ms(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  void close_port() override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return;
    }
    if (timeouts_changed_) {
      SetCommTimeouts(handle_, &found_timeouts_);
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (resolution_set_) {
      timeEndPeriod(k_timer_resolution_ms);
      resolution_set_ = false;
    }
  }

 protected:
  std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) override {
    if (handle_ == INVALID_HANDLE_VALUE || capacity == 0) {
      return 0;
    }
    const std::int64_t deadline = monotonic_ms() + wait_ms;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) {
      return 0;
    }
    while (status.cbInQue == 0) {
      if (monotonic_ms() >= deadline) {
        return 0;
      }
      Sleep(k_poll_interval_ms);
      if (!ClearCommError(handle_, &errors, &status)) {
        return 0;
      }
    }
    const DWORD wanted = status.cbInQue < capacity ? status.cbInQue : static_cast<DWORD>(capacity);
    DWORD got = 0;
    if (!ReadFile(handle_, into, wanted, &got, nullptr)) {
      return 0;
    }
    return got;
  }

 private:
  // A port whose write timeouts are zero lets WriteFile wait for ever while flow control holds
  // the line; give such a port a total bound, and its own timeouts back on close.
  void bound_writes() {
    if (!GetCommTimeouts(handle_, &found_timeouts_) ||
        found_timeouts_.WriteTotalTimeoutMultiplier != 0 ||
        found_timeouts_.WriteTotalTimeoutConstant != 0) {
      return;
    }
    DCB line{};
    line.DCBlength = sizeof line;
    const DWORD baud = GetCommState(handle_, &line) && line.BaudRate > 0 ? line.BaudRate : 300;
    COMMTIMEOUTS bounded = found_timeouts_;
    bounded.WriteTotalTimeoutMultiplier = (k_bits_per_byte * 1000 + baud - 1) / baud;
    bounded.WriteTotalTimeoutConstant = k_write_timeout_ms;
    timeouts_changed_ = SetCommTimeouts(handle_, &bounded) != 0;
  }

  HANDLE handle_;
  COMMTIMEOUTS found_timeouts_{};
  bool timeouts_changed_ = false;
  bool resolution_set_ = false;
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

}  // namespace

std::unique_ptr<SerialLink> link_over_handle(HANDLE handle) {
  return std::make_unique<Win32SerialLink>(handle);
}

std::string system_error_text(int code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : "";
  LocalFree(text);
  // The system's text ends in a full stop and CR LF; the tool's messages are one line each.
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) {
    message = "system error " + std::to_string(code);
  }
  return message;
}

PortOpening open_port(int port_number) {
  PortOpening opening;
  // The "\\.\" prefix is what opens ports above COM9.
  std::array<char, 32> path{};
  std::snprintf(path.data(), path.size(), "\\\\.\\COM%d", port_number);
  opening.path = path.data();
  // Share mode 0: a port that another program has open fails here.
  HANDLE handle = CreateFileA(opening.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    opening.failure = failure_of_open(code);
    opening.error = error_of(code);
    return opening;
  }
  opening.link = link_over_handle(handle);
  return opening;
}

}  // namespace murve
