#pragma once

#include "common/platform.h"

namespace murve {

// What murvecolor and murvedump do first: the standard streams are set up (common/platform.h),
// the messages' language is chosen, and the signal guard (device/signal_guard.h) is installed, so
// that a signal or Ctrl+C that ends the run gives the port back.
void prepare_process(const char* program);

}  // namespace murve
