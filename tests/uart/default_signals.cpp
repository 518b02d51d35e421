// Run in the test machine: starts a program with SIGINT and SIGQUIT at their default actions,
// as a terminal's foreground program has them; a shell's background job has them ignored.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: default-signals PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  for (const int signal_number : {SIGINT, SIGQUIT}) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(signal_number, &action, nullptr) != 0) {
      std::perror("default-signals");
      return 1;
    }
  }
  execvp(argv[1], argv + 1);
  std::perror("default-signals");
  return 127;
}
