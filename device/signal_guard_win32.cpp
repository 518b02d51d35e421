#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "device/signal_guard.h"

namespace murve {
namespace {

// What the console handler needs to give the open ports back: -list has several open at once,
// each in a thread of its own, and the handler runs in one more. All of it under the one mutex.
std::mutex g_mutex;
std::vector<const std::function<void()>*> g_give_backs;
// The interruption notice, kept whole for the handler, its line ends as standard error's.
std::array<char, 1024> g_notice{};
std::size_t g_notice_length = 0;

std::atomic<bool> g_installed{false};

// Ctrl+C, Ctrl+Break, the console window closed: gives every open port back, says what the
// interruption left behind, and lets the next handler (in the end the system's) end the process
// as it would have.
BOOL WINAPI give_ports_back(DWORD) {
  const std::lock_guard lock(g_mutex);
  for (const std::function<void()>* give_back : g_give_backs) {
    (*give_back)();
  }
  if (g_notice_length > 0) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), g_notice.data(), static_cast<DWORD>(g_notice_length),
              &written, nullptr);
  }
  return FALSE;
}

}  // namespace

std::vector<GuardGap> install_signal_guard() {
  if (g_installed.exchange(true) || SetConsoleCtrlHandler(give_ports_back, TRUE)) {
    return {};
  }
  const DWORD code = GetLastError();
  return {{"Ctrl+C", {static_cast<int>(code), system_error_text(static_cast<int>(code))}}};
}

GuardedPort::GuardedPort(std::function<void()> give_back) : give_back_(std::move(give_back)) {
  const std::lock_guard lock(g_mutex);
  g_give_backs.push_back(&give_back_);
  registered_ = true;
}

bool GuardedPort::held() const {
  const std::lock_guard lock(g_mutex);
  return registered_;
}

void GuardedPort::release() {
  const std::lock_guard lock(g_mutex);
  if (!registered_) {
    return;
  }
  // Given back before it leaves the list: a Ctrl+C meanwhile still finds it.
  give_back_();
  g_give_backs.erase(std::find(g_give_backs.begin(), g_give_backs.end(), &give_back_));
  registered_ = false;
}

void set_interruption_notice(std::string_view text) {
  const std::lock_guard lock(g_mutex);
  g_notice_length = 0;
  // CR LF, as the C runtime writes standard error's other lines in text mode.
  for (const char c : text) {
    const std::size_t needed = c == '\n' ? 2 : 1;
    if (g_notice_length + needed > g_notice.size()) {
      break;
    }
    if (c == '\n') {
      g_notice[g_notice_length++] = '\r';
    }
    g_notice[g_notice_length++] = c;
  }
}

}  // namespace murve
