#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "device/serial_link.h"

namespace murve {
namespace {

// How long a write may make no progress (flow control held, say) before it counts as failed.
constexpr int k_write_stall_timeout_ms = 1000;
// How often to look whether the bytes written have left the port.
constexpr long k_drain_poll_ns = 1000000L;

// SIGPIPE too: output to a reader that has gone (| head) would otherwise end the run with the
// port left raw and held exclusively.
constexpr std::array<int, 4> k_restoring_signals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What a signal handler needs to give the port back; one port is open at a time.
volatile std::sig_atomic_t g_open_fd = -1;
termios g_saved_termios;

// Async-signal-safe: put the port back as found, release it, then die of the same signal.
void restore_port_on_signal(int signal_number) {
  const int fd = g_open_fd;
  if (fd >= 0) {
    tcsetattr(fd, TCSANOW, &g_saved_termios);
    ioctl(fd, TIOCNXCL);
    close(fd);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Root's open gets past another program's TIOCEXCL; that program still holds the port.
bool held_exclusively(int fd) {
#ifdef TIOCGEXCL
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
  static_cast<void>(fd);
  return false;
#endif
}

class PosixSerialLink final : public SerialLink {
 public:
  PosixSerialLink(int fd, const termios& saved) : fd_(fd), saved_termios_(saved) {
    g_saved_termios = saved;
    g_open_fd = fd;
    for (std::size_t i = 0; i < k_restoring_signals.size(); ++i) {
      struct sigaction action {};
      action.sa_handler = restore_port_on_signal;
      sigemptyset(&action.sa_mask);
      sigaction(k_restoring_signals[i], &action, &previous_actions_[i]);
      // A signal the caller ignores (nohup, say) stays ignored.
      if (previous_actions_[i].sa_handler == SIG_IGN) {
        sigaction(k_restoring_signals[i], &previous_actions_[i], nullptr);
      }
    }
  }

  ~PosixSerialLink() override { close_port(); }

  bool send_bytes(const void* data, std::size_t length) override {
    const char* next = static_cast<const char*>(data);
    std::size_t left = length;
    while (left > 0 && fd_ >= 0) {
      const ssize_t written = write(fd_, next, left);
      if (written > 0) {
        next += written;
        left -= static_cast<std::size_t>(written);
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd ready{fd_, POLLOUT, 0};
        if (poll_until(ready, monotonic_ms() + k_write_stall_timeout_ms) <= 0 ||
            (ready.revents & POLLOUT) == 0) {
          return false;
        }
      } else {
        return false;
      }
    }
    if (fd_ < 0) {
      return false;
    }
    wait_until_sent();
    return true;
  }

  void sleep_ms(int milliseconds) override {
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  void close_port() override {
    if (fd_ < 0) {
      return;
    }
    tcsetattr(fd_, TCSANOW, &saved_termios_);
    // Exclusive mode outlives this descriptor while anyone else holds the tty open.
    ioctl(fd_, TIOCNXCL);
    // Only now: a signal until here still finds the port to give back.
    g_open_fd = -1;
    close(fd_);
    fd_ = -1;
    for (std::size_t i = 0; i < k_restoring_signals.size(); ++i) {
      sigaction(k_restoring_signals[i], &previous_actions_[i], nullptr);
    }
  }

 protected:
  std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) override {
    if (fd_ < 0 || hung_up_ || capacity == 0) {
      return 0;
    }
    const std::int64_t deadline = monotonic_ms() + wait_ms;
    for (;;) {
      pollfd ready{fd_, POLLIN, 0};
      const int polled = poll_until(ready, deadline);
      if (polled <= 0) {
        return 0;
      }
      if ((ready.revents & POLLIN) == 0) {
        hung_up_ = true;  // POLLHUP or POLLERR with nothing left to read
        return 0;
      }
      const ssize_t got = read(fd_, into, capacity);
      if (got > 0) {
        return static_cast<std::size_t>(got);
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        continue;
      }
      // End of file or EIO: the other end has gone; don't poll a dead line again.
      hung_up_ = true;
      return 0;
    }
  }

 private:
  // Waits, within a bound, until the port has sent what was written: the device answers a command
  // only once it has all of it, and the fixed sleeps count from then, as a Windows write does.
  // tcdrain() would wait without a bound when flow control holds the line.
  void wait_until_sent() {
    std::int64_t last_progress = monotonic_ms();
    int last_queued = -1;
    int queued = 0;
    while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
      if (queued != last_queued) {
        last_queued = queued;
        last_progress = monotonic_ms();
      } else if (monotonic_ms() - last_progress > k_write_stall_timeout_ms) {
        return;
      }
      timespec pause{0, k_drain_poll_ns};
      nanosleep(&pause, nullptr);
    }
  }

  // poll() with a deadline on the monotonic clock, so that EINTR never stretches the wait.
  int poll_until(pollfd& ready, std::int64_t deadline) {
    for (;;) {
      const std::int64_t remaining = deadline - monotonic_ms();
      const int polled = poll(&ready, 1, static_cast<int>(remaining > 0 ? remaining : 0));
      if (polled >= 0 || errno != EINTR) {
        return polled;
      }
    }
  }

  int fd_;
  termios saved_termios_;
  bool hung_up_ = false;
  std::array<struct sigaction, k_restoring_signals.size()> previous_actions_{};
};

}  // namespace

std::string port_device_path(int port_number) {
  std::array<char, 32> name{};
  std::snprintf(name.data(), name.size(), "MURVECOLOR_COM%d", port_number);
  const char* mapped = std::getenv(name.data());
  if (mapped != nullptr && mapped[0] != '\0') {
    return mapped;
  }
  // COM1 is /dev/ttyS0, as Cygwin numbers them.
  return "/dev/ttyS" + std::to_string(port_number - 1);
}

std::unique_ptr<SerialLink> open_port(int port_number) {
  const std::string path = port_device_path(port_number);
  // O_NONBLOCK so that the open never waits for carrier on the modem lines.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return nullptr;
  }
  // flock keeps out programs that cooperate; TIOCEXCL keeps out every further open but root's.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || held_exclusively(fd) || ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    return nullptr;
  }
  termios saved{};
  if (tcgetattr(fd, &saved) != 0) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  // A cooked tty would echo the device's output back to it and turn "\n" into "\r\n" on the
  // wire; raw mode keeps the bytes as sent, while the baud rate and CRTSCTS stay as found.
  termios raw = saved;
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &raw) != 0) {
    tcsetattr(fd, TCSANOW, &saved);
    ioctl(fd, TIOCNXCL);
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSerialLink>(fd, saved);
}

}  // namespace murve
