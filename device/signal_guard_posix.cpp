#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "device/signal_guard.h"

namespace murve {

// What the handler needs to give one port back. -list has several open at once, each in a thread
// of its own. The descriptor is published only once the settings are in place, and taken back
// before they go.
struct PortSlot {
  std::atomic<bool> claimed{false};
  std::atomic<int> fd{-1};
  termios saved{};
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

struct GuardedSignal {
  int number;
  const char* name;
};
// Each signal whose default action ends the process, but SIGPIPE (ignored at set-up) and the
// program's own faults (SIGSEGV and the like: its memory, these ports included, can't be trusted
// then, and sanitizers and debuggers want them). SIGABRT is in: abort() is how an exception that
// nobody catches ends the program, sound as it is. The real-time signals are added at install.
constexpr GuardedSignal k_guarded_signals[] = {
    {SIGHUP, "SIGHUP"},       {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"},     {SIGABRT, "SIGABRT"},
    {SIGUSR1, "SIGUSR1"},     {SIGUSR2, "SIGUSR2"}, {SIGALRM, "SIGALRM"},     {SIGTERM, "SIGTERM"},
    {SIGXCPU, "SIGXCPU"},     {SIGXFSZ, "SIGXFSZ"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
#ifdef SIGPOLL
    {SIGPOLL, "SIGPOLL"},
#endif
#ifdef __linux__
    {SIGSTKFLT, "SIGSTKFLT"}, {SIGPWR, "SIGPWR"},
#endif
};
// The kernel raises these for the program's own fault (a breakpoint, a system call its filter
// forbids), which keeps its default action; another process may send them, as it does SIGTERM.
constexpr GuardedSignal k_guarded_when_sent[] = {{SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"}};

std::array<PortSlot, 64> g_slots;

// The interruption notice, kept whole for the handler; its length is published last.
std::array<char, 512> g_notice{};
std::atomic<std::size_t> g_notice_length{0};

std::atomic<bool> g_installed{false};

// Async-signal-safe, for the handler as for a close.
void give_back(int fd, const termios& saved) {
  // Output the device never took would otherwise reach it after the run, and the last close of
  // the tty would wait for it (up to its closing_wait, 30 s).
  tcflush(fd, TCOFLUSH);
  tcsetattr(fd, TCSANOW, &saved);
  // Exclusive mode outlives this descriptor while anyone else holds the tty open.
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
}

// Ends the process by the signal's default action, from its handler.
[[noreturn]] void end_by_default(int signal_number) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigset_t only_this;
  if (sigemptyset(&default_action.sa_mask) != 0 || sigemptyset(&only_this) != 0 ||
      sigaddset(&only_this, signal_number) != 0 ||
      sigaction(signal_number, &default_action, nullptr) != 0) {
    _exit(128 + signal_number);
  }
  // Blocked while its handler runs: unblocked, it is taken at once, by its default action.
  raise(signal_number);
  pthread_sigmask(SIG_UNBLOCK, &only_this, nullptr);
  _exit(128 + signal_number);
}

// Gives every port back, says what the interruption left behind, then ends the process as the
// signal would have. The descriptors stay open to the end: a thread still using one must not
// find its number given to another file.
[[noreturn]] void give_ports_back(int signal_number) {
  for (PortSlot& slot : g_slots) {
    if (const int fd = slot.fd.exchange(-1); fd >= 0) {
      give_back(fd, slot.saved);
    }
  }
  // Once, should two signals come at once.
  if (const std::size_t length = g_notice_length.exchange(0); length > 0) {
    const ssize_t ignored = write(STDERR_FILENO, g_notice.data(), length);
    static_cast<void>(ignored);
  }
  end_by_default(signal_number);
}

void give_ports_back_when_sent(int signal_number, siginfo_t* info, void*) {
  const bool sent =
      info->si_code == SI_USER || info->si_code == SI_QUEUE || info->si_code == SI_TKILL;
  if (sent) {
    give_ports_back(signal_number);
  }
  end_by_default(signal_number);
}

// Installs the handler for one signal, unless the process was started with it ignored; with
// `only_when_sent`, the ports are given back only when another process sent it.
SystemError guard(int signal_number, bool only_when_sent = false) {
  struct sigaction found {};
  if (sigaction(signal_number, nullptr, &found) != 0) {
    return {errno, system_error_text(errno)};
  }
  if (found.sa_handler == SIG_IGN) {
    return {};
  }
  struct sigaction action {};
  if (only_when_sent) {
    action.sa_sigaction = give_ports_back_when_sent;
    action.sa_flags = SA_SIGINFO;
  } else {
    action.sa_handler = give_ports_back;
  }
  // Every signal held off meanwhile: the handler is not itself interrupted.
  if (sigfillset(&action.sa_mask) != 0 || sigaction(signal_number, &action, nullptr) != 0) {
    return {errno, system_error_text(errno)};
  }
  return {};
}

}  // namespace

std::vector<GuardGap> install_signal_guard() {
  std::vector<GuardGap> gaps;
  if (g_installed.exchange(true)) {
    return gaps;
  }
  for (const GuardedSignal& guarded : k_guarded_signals) {
    if (SystemError error = guard(guarded.number); error.failed()) {
      gaps.push_back({guarded.name, std::move(error)});
    }
  }
  for (const GuardedSignal& guarded : k_guarded_when_sent) {
    if (SystemError error = guard(guarded.number, true); error.failed()) {
      gaps.push_back({guarded.name, std::move(error)});
    }
  }
  // Best effort: a tool may keep one for itself (valgrind keeps SIGRTMAX), which is then its own.
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    guard(signal_number);
  }
  return gaps;
}

GuardedPort::GuardedPort(int fd, const termios& saved) {
  for (PortSlot& slot : g_slots) {
    bool free = false;
    if (slot.claimed.compare_exchange_strong(free, true)) {
      slot.saved = saved;
      slot.fd.store(fd);
      slot_ = &slot;
      fd_ = fd;
      return;
    }
  }
}

bool GuardedPort::held() const {
  return slot_ != nullptr;
}

void GuardedPort::release() {
  if (slot_ == nullptr) {
    return;
  }
  give_back(fd_, slot_->saved);
  // Only now: a signal until here still finds the port to give back.
  slot_->fd.store(-1);
  slot_->claimed.store(false);
  slot_ = nullptr;
}

void set_interruption_notice(std::string_view text) {
  g_notice_length.store(0);
  const std::size_t length = std::min(text.size(), g_notice.size());
  std::memcpy(g_notice.data(), text.data(), length);
  g_notice_length.store(length);
}

}  // namespace murve
