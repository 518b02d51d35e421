#include <windows.h>

#include <cstdio>

#include "device/serial_link.h"

namespace murve {
namespace {

// Polling interval while waiting for the first byte of a reply.
constexpr DWORD k_poll_interval_ms = 1;

class Win32SerialLink final : public SerialLink {
 public:
  explicit Win32SerialLink(HANDLE handle) : handle_(handle) {}

  ~Win32SerialLink() override { close_port(); }

  bool send_bytes(const void* data, std::size_t length) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return false;
    }
    // The count written is not compared with the length: the call's own success is the answer.
    DWORD written = 0;
    return WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr) != 0;
  }

  void sleep_ms(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  void close_port() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
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

  std::int64_t monotonic_ms() override { return static_cast<std::int64_t>(GetTickCount64()); }

 private:
  HANDLE handle_;
};

}  // namespace

std::string port_device_path(int port_number) {
  // The "\\.\" prefix is what opens ports above COM9.
  std::array<char, 32> path{};
  std::snprintf(path.data(), path.size(), "\\\\.\\COM%d", port_number);
  return path.data();
}

std::unique_ptr<SerialLink> open_port(int port_number) {
  const std::string path = port_device_path(port_number);
  // Share mode 0: a port that another program has open fails here.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  return std::make_unique<Win32SerialLink>(handle);
}

}  // namespace murve
