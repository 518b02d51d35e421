#pragma once

#include <string>

namespace murve {

// What murvecolor and murvedump do first. POSIX: descriptors 0-2 that are closed get /dev/null,
// so that the port is never opened as one of them and sent what is printed; and SIGPIPE is
// ignored, so that a reader that goes away (| head) never stops the dialogue halfway: printing
// then fails, and the run goes on to its end and gives the port back. Then the signal guard
// (device/signal_guard.h) is installed: a signal or Ctrl+C that ends the run gives the port back.
void prepare_process(const char* program);

// Whether standard output was closed when the program began: what it prints goes nowhere.
bool standard_output_was_closed();

// The folder the running program is in ("/usr/bin"), or "" when the system does not say.
std::string program_folder();

}  // namespace murve
