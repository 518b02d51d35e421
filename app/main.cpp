#include <cstring>

#include "app/run.h"
#include "common/message.h"
#include "common/process_setup.h"
#include "common/report.h"

int main(int argc, char** argv) {
  murve::prepare_process("murvecolor");
  const int status = murve::run_murvecolor(argc, argv);
  // The exit status stays the device's verdict; a record of the run that was lost is said once.
  if (const int error = murve::output_failure(); error != 0) {
    murve::report_problem("murvecolor",
                          murve::message("cannot write to standard output: {reason}",
                                         {{"reason", murve::sentence_of(std::strerror(error))}}));
  }
  murve::finish_process("murvecolor");
  return status;
}
