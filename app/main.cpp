#include "app/run.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Text mode would turn every "\n" into "\r\n"; the output is to be the same bytes everywhere.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return murve::run_murvecolor(argc, argv);
}
