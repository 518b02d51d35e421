#include "common/process_setup.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/report.h"
#include "device/signal_guard.h"
#include "settings/text_format.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace murve {
namespace {

bool output_was_closed = false;

}  // namespace

bool standard_output_was_closed() {
  return output_was_closed;
}

std::string program_folder() {
#ifdef _WIN32
  return "";
#else
  std::array<char, PATH_MAX> program{};
  const ssize_t length = readlink("/proc/self/exe", program.data(), program.size() - 1);
  if (length <= 0) {
    return "";
  }
  const std::string path(program.data(), static_cast<std::size_t>(length));
  return path.substr(0, path.find_last_of('/'));
#endif
}

void prepare_process(const char* program) {
#ifdef _WIN32
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  output_was_closed = output == nullptr || output == INVALID_HANDLE_VALUE;
#else
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      output_was_closed = output_was_closed || fd == STDOUT_FILENO;
      // The lowest free descriptor, so this one: the ones below it are open by now.
      open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
    std::fprintf(stderr, "%s: cannot ignore SIGPIPE: %s; a reader that goes away stops the run\n",
                 program, std::strerror(errno));
  }
#endif
  for (const GuardGap& gap : install_signal_guard()) {
    report_problem(
        program,
        format_text("cannot handle %s: %s; a run it stops leaves the port as the run set it",
                    gap.event.c_str(), gap.error.text.c_str()));
  }
}

}  // namespace murve
