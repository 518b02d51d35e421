#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "device/serial_link.h"
#include "device/signal_guard.h"
#include "device/termios_rates.h"
#include "device/unique_fd.h"

namespace murve {
namespace {

// How often to look whether the bytes written have left the port.
constexpr long k_drain_poll_ns = 1000000L;
// The most a user or group entry is given room for; a bigger one is named by its number.
constexpr std::size_t k_max_lookup_buffer = 1 << 20;

constexpr auto k_baud_list = [] {
  std::array<unsigned, std::size(k_termios_rates)> list{};
  for (std::size_t i = 0; i < list.size(); ++i) {
    list[i] = k_termios_rates[i].baud;
  }
  return list;
}();

SystemError error_of(int code) {
  return {code, system_error_text(code)};
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
  // Puts the port under the signal guard before anything changes it, so that no signal finds it
  // changed and unguarded.
  PosixSerialLink(UniqueFd fd, const termios& saved)
      : fd_(std::move(fd)), guard_(fd_.get(), saved) {}

  ~PosixSerialLink() override { close_port(); }

  bool guarded() const { return guard_.held(); }

  // Keeps out every further open but root's, and puts the line in raw mode: a cooked tty would
  // echo the device's output back to it and turn "\n" into "\r\n" on the wire. CRTSCTS, and the
  // baud rate unless one is asked for, stay as found.
  OpenFailure take_exclusively_raw(const termios& saved, const LineRequest& request,
                                   SystemError& error) {
    if (ioctl(fd_.get(), TIOCEXCL) != 0) {
      error = error_of(errno);
      return OpenFailure::other;
    }
    termios raw = saved;
    cfmakeraw(&raw);
    // CLOCAL: ignore the modem lines, so that a missing carrier never blocks or hangs up.
    raw.c_cflag |= CLOCAL | CREAD;
    const std::optional<speed_t> speed = termios_speed(request.baud);
    if (request.baud != 0 &&
        (!speed || cfsetispeed(&raw, *speed) != 0 || cfsetospeed(&raw, *speed) != 0)) {
      error = error_of(EINVAL);
      return OpenFailure::baud_refused;
    }
    if (tcsetattr(fd_.get(), TCSANOW, &raw) != 0) {
      const int code = errno;
      error = error_of(code);
      return request.baud != 0 && code == EINVAL ? OpenFailure::baud_refused : OpenFailure::other;
    }
    // tcsetattr succeeds when any of the settings took; a driver may keep its own rate.
    termios now{};
    if (request.baud != 0 && (tcgetattr(fd_.get(), &now) != 0 || cfgetospeed(&now) != *speed)) {
      error = error_of(EINVAL);
      return OpenFailure::baud_refused;
    }
    flow_control_ = (raw.c_cflag & CRTSCTS) != 0;
    return OpenFailure::none;
  }

  SendOutcome send_bytes(const void* data, std::size_t length) override {
    if (!fd_) {
      return {error_of(EBADF)};
    }
    const char* next = static_cast<const char*>(data);
    std::size_t left = length;
    std::int64_t last_progress = monotonic_ms();
    while (left > 0) {
      const ssize_t written = write(fd_.get(), next, left);
      if (written > 0) {
        next += written;
        left -= static_cast<std::size_t>(written);
        last_progress = monotonic_ms();
      } else if (written < 0 && errno == EINTR) {
        continue;
      } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd ready{fd_.get(), POLLOUT, 0};
        const int polled = poll_until(ready, last_progress + k_send_stall_timeout_ms);
        if (polled < 0) {
          return {error_of(errno)};
        }
        if (polled == 0) {
          return stalled();
        }
        if ((ready.revents & POLLOUT) == 0) {
          return {error_of(EIO)};
        }
      } else {
        const int error = written < 0 ? errno : EIO;
        if (error == EIO || error == ENXIO || error == ENODEV) {
          note_hang_up();  // unplugged while the command went out
        }
        return {error_of(error)};
      }
    }
    return wait_until_sent() ? SendOutcome{} : stalled();
  }

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

  void discard_input() override {
    if (fd_) {
      tcflush(fd_.get(), TCIFLUSH);
    }
  }

  void sleep_ms(int milliseconds) override {
    timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  bool hardware_flow_control() const override { return flow_control_; }

  void close_port() override {
    if (!fd_) {
      return;
    }
    guard_.release();
    fd_.reset();
  }

 private:
  SendOutcome stalled() {
    tcflush(fd_.get(), TCOFLUSH);
    SendOutcome outcome;
    outcome.stalled = true;
    return outcome;
  }

  // Waits, within a bound, until the port has sent what was written: the device answers a command
  // only once it has all of it, and the fixed sleeps count from then, as a Windows write does.
  // tcdrain() would wait without a bound when flow control holds the line. False when the queue
  // made no progress for k_send_stall_timeout_ms.
  bool wait_until_sent() {
    std::int64_t last_progress = monotonic_ms();
    int last_queued = -1;
    int queued = 0;
    while (ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 && queued > 0) {
      if (queued != last_queued) {
        last_queued = queued;
        last_progress = monotonic_ms();
      } else if (monotonic_ms() - last_progress > k_send_stall_timeout_ms) {
        return false;
      }
      timespec pause{0, k_drain_poll_ns};
      nanosleep(&pause, nullptr);
    }
    return true;
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
  GuardedPort guard_;  // after fd_: it gives the port back before the descriptor closes
  bool flow_control_ = false;
};

OpenFailure failure_of_open(int code) {
  switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return OpenFailure::no_such_device;
    // A /dev/ttyS node with no UART behind it.
    case EIO:
      return OpenFailure::no_hardware;
    case EACCES:
    case EPERM:
      return OpenFailure::permission_denied;
    case EBUSY:
      return OpenFailure::in_use;
    default:
      return OpenFailure::other;
  }
}

// The name the user or group database gives `id`, or else its number. The reentrant lookup:
// -list opens its ports from several threads at once.
template <typename Entry, typename Id>
std::string name_of(int (*lookup)(Id, Entry*, char*, std::size_t, Entry**), Id id,
                    char* Entry::*name) {
  std::vector<char> buffer(1024);
  for (;;) {
    Entry entry{};
    Entry* found = nullptr;
    const int code = lookup(id, &entry, buffer.data(), buffer.size(), &found);
    if (code == ERANGE && buffer.size() < k_max_lookup_buffer) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return code == 0 && found != nullptr ? found->*name : std::to_string(id);
  }
}

// Who may open the device: its owner, and its group when that group may read and write it and
// is not root's (joining root's group is no advice to give).
DeviceAccess access_of(const std::string& path) {
  DeviceAccess access;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return access;
  }
  access.owner = name_of(getpwuid_r, status.st_uid, &passwd::pw_name);
  if (status.st_gid != 0 && (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
    access.group = name_of(getgrgid_r, status.st_gid, &group::gr_name);
  }
  return access;
}

PortOpening failed(OpenFailure failure, SystemError error, const std::string& path) {
  PortOpening opening;
  opening.failure = failure;
  opening.error = std::move(error);
  if (failure == OpenFailure::permission_denied) {
    opening.access = access_of(path);
  }
  return opening;
}

PortOpening failed(OpenFailure failure, int code, const std::string& path) {
  return failed(failure, error_of(code), path);
}

}  // namespace

std::span<const unsigned> supported_baud_rates() {
  return k_baud_list;
}

std::string system_error_text(int code) {
  return std::strerror(code);
}

PortAddress port_for_number(int port_number) {
  PortAddress address;
  address.com_number = port_number;
  std::array<char, 32> variable{};
  std::snprintf(variable.data(), variable.size(), "MURVECOLOR_COM%d", port_number);
  address.variable = variable.data();
  const char* mapped = std::getenv(variable.data());
  if (mapped != nullptr && mapped[0] != '\0') {
    address.origin = PortOrigin::variable;
    address.path = mapped;
  } else {
    // COM1 is /dev/ttyS0, as Cygwin numbers them.
    address.origin = PortOrigin::default_for_number;
    address.path = "/dev/ttyS" + std::to_string(port_number - 1);
  }
  return address;
}

PortAddress port_named(const std::string& name) {
  PortAddress address;
  address.path = name;
  return address;
}

PortOpening open_port(const PortAddress& address, const LineRequest& request) {
  const std::string& path = address.path;
  // O_NONBLOCK so that the open never waits for carrier on the modem lines.
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    const int code = errno;
    return failed(failure_of_open(code), code, path);
  }
  // flock keeps out programs that cooperate; TIOCEXCL, set below, every further open but root's.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    // EWOULDBLOCK's own words ("Resource temporarily unavailable") would hide what it means here.
    const int code = errno == EWOULDBLOCK ? EBUSY : errno;
    return failed(failure_of_open(code), code, path);
  }
  if (held_exclusively(fd.get())) {
    return failed(OpenFailure::in_use, EBUSY, path);
  }
  // A /dev/ttyS node with no UART behind it opens, but its modem lines can't be read (EIO).
  if (int lines = 0; ioctl(fd.get(), TIOCMGET, &lines) != 0 && errno == EIO) {
    return failed(OpenFailure::no_hardware, EIO, path);
  }
  termios saved{};
  if (tcgetattr(fd.get(), &saved) != 0) {
    const int code = errno;
    return failed(
        code == ENOTTY || code == EINVAL ? OpenFailure::not_a_serial_port : OpenFailure::other,
        code, path);
  }
  auto link = std::make_unique<PosixSerialLink>(std::move(fd), saved);
  // From here on the link's close_port gives back whatever was changed, on every path.
  if (!link->guarded()) {
    return failed(OpenFailure::other, EMFILE, path);
  }
  SystemError error;
  if (const OpenFailure failure = link->take_exclusively_raw(saved, request, error);
      failure != OpenFailure::none) {
    return failed(failure, std::move(error), path);
  }
  PortOpening opening;
  opening.link = std::move(link);
  return opening;
}

}  // namespace murve
