#pragma once

// What gives every open port back when the process is stopped from outside: a signal on POSIX,
// a console event (Ctrl+C, the window closed) on Windows. One file per platform,
// signal_guard_posix.cpp and signal_guard_win32.cpp. The same handler writes the interruption
// notice (set_interruption_notice, in serial_link.h).

#include <string>
#include <vector>

#include "device/serial_link.h"

#ifdef _WIN32
#include <functional>
#else
struct termios;
#endif

namespace murve {

#ifndef _WIN32
struct PortSlot;  // the guard's record of one port, in signal_guard_posix.cpp
#endif

// A signal or console event the guard could not take over, and why.
struct GuardGap {
  std::string event;  // "SIGQUIT", "Ctrl+C"
  SystemError error;
};

// Installs the handlers, at process set-up: from then on whatever would end the process gives
// every guarded port back first, then ends it as it would have. A signal the process was started
// with ignored (nohup) stays ignored. Later calls change nothing and give nothing.
std::vector<GuardGap> install_signal_guard();

// The guard's hold on one open port, while the object lives. The port's own close goes through
// release() too, so that a signal and a close give it back alike.
class GuardedPort {
 public:
  ~GuardedPort() { release(); }
#ifdef _WIN32
  // `give_back` is called under the guard's lock: by release(), or on the console handler's thread.
  explicit GuardedPort(std::function<void()> give_back);
#else
  // `saved` is what the port had when opened.
  GuardedPort(int fd, const ::termios& saved);
#endif
  GuardedPort(const GuardedPort&) = delete;
  GuardedPort& operator=(const GuardedPort&) = delete;

  // Whether a signal now finds the port. POSIX: not when the guard had no free place for it; then
  // the port must not be changed.
  bool held() const;

  // Gives the port back as found (what it has not sent is dropped, its settings put back, its
  // exclusive use released), then takes it off the guard; later calls do nothing.
  void release();

 private:
#ifdef _WIN32
  std::function<void()> give_back_;
  bool registered_ = false;
#else
  int fd_ = -1;
  PortSlot* slot_ = nullptr;
#endif
};

}  // namespace murve
