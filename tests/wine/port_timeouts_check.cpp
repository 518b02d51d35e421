// Run under Wine by the Windows tests: opens COM5 the way murvecolor does, hands a duplicate of
// the handle to the serial link, and prints the port's timeouts before, while and after the link
// has it. Whatever the port had, the link gives it reads that return at once and a write bound
// (about 1 s and the time of the bytes), and its own timeouts back. Exit status 0 when all that
// holds.

#include <windows.h>

#include <cstdio>
#include <memory>

#include "device/serial_link_win32.h"

namespace {

COMMTIMEOUTS timeouts_of(HANDLE handle) {
  COMMTIMEOUTS timeouts{};
  GetCommTimeouts(handle, &timeouts);
  return timeouts;
}

void print(const char* when, const COMMTIMEOUTS& timeouts) {
  std::printf("%s: write %lu ms a byte + %lu ms, read interval %lu\n", when,
              timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant,
              timeouts.ReadIntervalTimeout);
}

bool same(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
         a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
         a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

// The port as found: `found`; gives whether the link left it as it should.
bool check(const COMMTIMEOUTS& found) {
  HANDLE port = CreateFileA("\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  HANDLE duplicate = nullptr;
  if (port == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), port, GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS) ||
      !SetCommTimeouts(port, const_cast<COMMTIMEOUTS*>(&found))) {
    std::printf("cannot prepare COM5: error %lu\n", GetLastError());
    return false;
  }
  print("found", timeouts_of(port));
  const std::unique_ptr<murve::SerialLink> link = murve::link_over_handle(duplicate).link;
  const COMMTIMEOUTS held = timeouts_of(port);
  print("while open", held);
  const bool sent = link && !link->send_bytes("\r", 1).failed();
  if (link) {
    link->close_port();
  }
  const COMMTIMEOUTS after = timeouts_of(port);
  print("after close", after);
  CloseHandle(port);
  const bool set_while_open =
      held.ReadIntervalTimeout == MAXDWORD && held.ReadTotalTimeoutConstant == 0 &&
      held.WriteTotalTimeoutConstant == 1000 && held.WriteTotalTimeoutMultiplier >= 1;
  return sent && set_while_open && same(after, found);
}

}  // namespace

int main() {
  COMMTIMEOUTS unbounded{};
  unbounded.ReadIntervalTimeout = 7;
  COMMTIMEOUTS bounded = unbounded;
  bounded.WriteTotalTimeoutMultiplier = 5;
  bounded.WriteTotalTimeoutConstant = 77;
  const bool ok = check(unbounded) && check(bounded);
  std::printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
