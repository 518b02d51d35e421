#include <cstdio>
#include <cstring>

#include "app/run.h"
#include "common/message.h"
#include "common/process_setup.h"
#include "common/report.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
  murve::prepare_process("murvecolor");
  murve::choose_message_language();
#ifdef _WIN32
  // Text mode would turn every "\n" into "\r\n"; the output is to be the same bytes everywhere.
  _setmode(_fileno(stdout), _O_BINARY);
  // Windows has no line buffering (_IOLBF buffers fully there): no buffer at all, so that what
  // was printed is out even when the run is stopped.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  // A log of the run (output to a file or a pipe) keeps every line printed before a signal that
  // stops it: the signal handler gives the port back and dies without flushing.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  const int status = murve::run_murvecolor(argc, argv);
  // The exit status stays the device's verdict; a record of the run that was lost is said once.
  if (const int error = murve::output_failure(); error != 0) {
    murve::report_problem("murvecolor", murve::message("cannot write to standard output: {reason}",
                                                       {{"reason", std::strerror(error)}}));
  }
  return status;
}
