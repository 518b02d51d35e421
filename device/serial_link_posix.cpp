#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "device/serial_link.h"
#include "device/unique_fd.h"

namespace murve {
namespace {

// How long a write may make no progress (flow control held, say) before it counts as failed.
constexpr int k_write_stall_timeout_ms = 1000;
// How often to look whether the bytes written have left the port.
constexpr long k_drain_poll_ns = 1000000L;

// SIGPIPE too: output to a reader that has gone (| head) would otherwise end the run with the
// port left raw and held exclusively.
constexpr std::array<int, 4> k_restoring_signals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What a signal handler needs to give the port back; one port is open at a time. The descriptor
// is published only once the saved settings are in place, and taken back before they go.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> g_open_fd{-1};
termios g_saved_termios;

// Async-signal-safe: put the port back as found, release it, then die of the same signal.
void restore_port_on_signal(int signal_number) {
  const int fd = g_open_fd.exchange(-1);
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

SystemError error_of(int code) {
  return {code, system_error_text(code)};
}

class PosixSerialLink final : public SerialLink {
 public:
  PosixSerialLink(UniqueFd fd, const termios& saved) : fd_(std::move(fd)), saved_termios_(saved) {}

  ~PosixSerialLink() override { close_port(); }

  // Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE give the port back before the tool dies of them.
  // Done before the port goes raw or exclusive, so that no signal finds it changed and unguarded.
  SystemError guard_against_signals() {
    g_saved_termios = saved_termios_;
    g_open_fd.store(fd_.get());
    for (std::size_t i = 0; i < k_restoring_signals.size(); ++i) {
      struct sigaction action {};
      action.sa_handler = restore_port_on_signal;
      sigemptyset(&action.sa_mask);
      if (sigaction(k_restoring_signals[i], &action, &previous_actions_[i]) != 0) {
        return error_of(errno);
      }
      ++guarded_signals_;
      // A signal the caller ignores (nohup, say) stays ignored.
      if (previous_actions_[i].sa_handler == SIG_IGN &&
          sigaction(k_restoring_signals[i], &previous_actions_[i], nullptr) != 0) {
        return error_of(errno);
      }
    }
    return {};
  }

  // Keeps out every further open but root's, and puts the line in raw mode: a cooked tty would
  // echo the device's output back to it and turn "\n" into "\r\n" on the wire. The baud rate
  // and CRTSCTS stay as found.
  SystemError take_exclusively_raw() {
    if (ioctl(fd_.get(), TIOCEXCL) != 0) {
      return error_of(errno);
    }
    termios raw = saved_termios_;
    cfmakeraw(&raw);
    // CLOCAL: ignore the modem lines, so that a missing carrier never blocks or hangs up.
    raw.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd_.get(), TCSANOW, &raw) != 0) {
      return error_of(errno);
    }
    return {};
  }

  SystemError send_bytes(const void* data, std::size_t length) override {
    if (!fd_) {
      return error_of(EBADF);
    }
    const char* next = static_cast<const char*>(data);
    std::size_t left = length;
    while (left > 0) {
      const ssize_t written = write(fd_.get(), next, left);
      if (written > 0) {
        next += written;
        left -= static_cast<std::size_t>(written);
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd ready{fd_.get(), POLLOUT, 0};
        const int polled = poll_until(ready, monotonic_ms() + k_write_stall_timeout_ms);
        if (polled < 0) {
          return error_of(errno);
        }
        if (polled == 0) {
          return {ETIMEDOUT, "the port took no byte for 1 s (flow control holding the line?)"};
        }
        if ((ready.revents & POLLOUT) == 0) {
          return error_of(EIO);
        }
      } else {
        return error_of(written < 0 ? errno : EIO);
      }
    }
    wait_until_sent();
    return {};
  }

  void sleep_ms(int milliseconds) override {
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  void close_port() override {
    if (!fd_) {
      return;
    }
    tcsetattr(fd_.get(), TCSANOW, &saved_termios_);
    // Exclusive mode outlives this descriptor while anyone else holds the tty open.
    ioctl(fd_.get(), TIOCNXCL);
    // Only now: a signal until here still finds the port to give back.
    g_open_fd.store(-1);
    fd_.reset();
    for (std::size_t i = 0; i < guarded_signals_; ++i) {
      sigaction(k_restoring_signals[i], &previous_actions_[i], nullptr);
    }
    guarded_signals_ = 0;
  }

 protected:
  std::size_t receive_bytes(char* into, std::size_t capacity, int wait_ms) override {
    if (!fd_ || hung_up() || capacity == 0) {
      return 0;
    }
    const std::int64_t deadline = monotonic_ms() + wait_ms;
    for (;;) {
      pollfd ready{fd_.get(), POLLIN, 0};
      const int polled = poll_until(ready, deadline);
      if (polled <= 0) {
        return 0;
      }
      if ((ready.revents & POLLIN) == 0) {
        note_hang_up();  // POLLHUP or POLLERR with nothing left to read
        return 0;
      }
      const ssize_t got = read(fd_.get(), into, capacity);
      if (got > 0) {
        return static_cast<std::size_t>(got);
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        continue;
      }
      // End of file or EIO: the other end has gone; don't poll a dead line again.
      note_hang_up();
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
    while (ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 && queued > 0) {
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

  UniqueFd fd_;
  termios saved_termios_;
  std::array<struct sigaction, k_restoring_signals.size()> previous_actions_{};
  std::size_t guarded_signals_ = 0;  // how many of k_restoring_signals have our handler
};

OpenFailure failure_of_open(int code) {
  switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return OpenFailure::no_such_device;
    case EACCES:
    case EPERM:
      return OpenFailure::permission_denied;
    case EBUSY:
      return OpenFailure::in_use;
    default:
      return OpenFailure::other;
  }
}

std::string group_of(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return "";
  }
  const group* owner = getgrgid(status.st_gid);
  return owner != nullptr ? owner->gr_name : std::to_string(status.st_gid);
}

PortOpening failed(PortOpening opening, OpenFailure failure, int code) {
  opening.failure = failure;
  opening.error = error_of(code);
  if (failure == OpenFailure::permission_denied) {
    opening.device_group = group_of(opening.path);
  }
  return opening;
}

}  // namespace

std::string system_error_text(int code) {
  return std::strerror(code);
}

PortOpening open_port(int port_number) {
  PortOpening opening;
  std::array<char, 32> variable{};
  std::snprintf(variable.data(), variable.size(), "MURVECOLOR_COM%d", port_number);
  opening.port_variable = variable.data();
  const char* mapped = std::getenv(variable.data());
  opening.path_from_variable = mapped != nullptr && mapped[0] != '\0';
  // Without it, COM1 is /dev/ttyS0, as Cygwin numbers them.
  opening.path =
      opening.path_from_variable ? mapped : "/dev/ttyS" + std::to_string(port_number - 1);
  // O_NONBLOCK so that the open never waits for carrier on the modem lines.
  UniqueFd fd(open(opening.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    const int code = errno;
    return failed(std::move(opening), failure_of_open(code), code);
  }
  // flock keeps out programs that cooperate; TIOCEXCL, set below, every further open but root's.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    // EWOULDBLOCK's own words ("Resource temporarily unavailable") would hide what it means here.
    const int code = errno == EWOULDBLOCK ? EBUSY : errno;
    return failed(std::move(opening), failure_of_open(code), code);
  }
  if (held_exclusively(fd.get())) {
    return failed(std::move(opening), OpenFailure::in_use, EBUSY);
  }
  termios saved{};
  if (tcgetattr(fd.get(), &saved) != 0) {
    const int code = errno;
    return failed(
        std::move(opening),
        code == ENOTTY || code == EINVAL ? OpenFailure::not_a_serial_port : OpenFailure::other,
        code);
  }
  auto link = std::make_unique<PosixSerialLink>(std::move(fd), saved);
  // From here on the link's close_port gives back whatever was changed, on every path.
  if (SystemError error = link->guard_against_signals(); error.failed()) {
    return failed(std::move(opening), OpenFailure::other, error.code);
  }
  if (SystemError error = link->take_exclusively_raw(); error.failed()) {
    return failed(std::move(opening), OpenFailure::other, error.code);
  }
  opening.link = std::move(link);
  return opening;
}

}  // namespace murve
