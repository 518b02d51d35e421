#include "common/process_setup.h"

#include <cstdio>
#include <cstring>

#include "device/signal_guard.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace murve {

void prepare_process(const char* program) {
#ifndef _WIN32
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
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
    std::fprintf(stderr,
                 "%s: cannot handle %s: %s; if it comes, the port stays as the run set it\n",
                 program, gap.event.c_str(), gap.error.text.c_str());
  }
}

}  // namespace murve
