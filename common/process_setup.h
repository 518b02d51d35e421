#pragma once

#include "common/platform.h"

namespace murve {

// What murvecolor and murvedump do first: the standard streams are set up (common/platform.h),
// the messages' language is chosen, and the signal guard (device/signal_guard.h) is installed, so
// that a signal or Ctrl+C that ends the run gives the port back.
void prepare_process(const char* program);

// Whether the program, at its end, asks for Enter before its console goes: it is the only
// process on the console, which then closes with it (Windows, a double-click in Explorer), and
// all three standard streams are that console. Never from a shell, a script, a pipe or a
// redirected stream.
bool holds_console_open(const ConsoleState& console);

// What murvecolor and murvedump do last: when holds_console_open(), a line on the console asking
// for Enter, and a wait for it of a few minutes at most, so that what was printed can be read.
void finish_process(const char* program);

}  // namespace murve
