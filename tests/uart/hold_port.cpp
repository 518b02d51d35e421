// Run in the test machine: holds a serial port the way another program would, with flock or
// with TIOCEXCL alone, until it is killed. Prints "held" once it holds the port.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "flock") != 0 && std::strcmp(argv[1], "excl") != 0)) {
    std::fprintf(stderr, "usage: hold-port flock|excl PORT\n");
    return 2;
  }
  const int fd = open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
  const bool held = fd >= 0 && (std::strcmp(argv[1], "flock") == 0 ? flock(fd, LOCK_EX) == 0
                                                                   : ioctl(fd, TIOCEXCL) == 0);
  if (!held) {
    std::perror("hold-port");
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  for (;;) {
    pause();
  }
}
