#pragma once

// The wording of the device's outcomes, for murvecolor and murvedump alike: one English sentence
// for each outcome that went wrong, with the system's reason and what to check. The callers add
// their program's name in front and say what it means for their run.

#include <string>

#include "device/device_programming.h"
#include "device/readback.h"
#include "device/serial_link.h"

namespace murve {

// A port as the messages name it: by its path ("/dev/ttyUSB0", "\\.\COM5"), whether -com or
// -port led there, in murvecolor and murvedump alike.
struct PortLabel {
  PortAddress address;        // where it was looked for
  bool flow_control = false;  // the line holds output back while the device is not ready
};

std::string explain_open_failure(const PortOpening& opening, const PortLabel& port);

std::string explain_identification(const Identification& identification, const PortLabel& port);

std::string explain_write_failure(const WriteReport& report, const PortLabel& port);

// Why the block at `address` was not read, or "" when it was, or was not asked for.
std::string explain_block(const BlockOutcome& block, unsigned address, const PortLabel& port);

// The one line for a run stopped during its writes: what the device holds, what to do. `rerun`
// is the command line that reaches the same port ("-com 5", "-port /dev/ttyUSB0").
std::string interrupted_writes_notice(const char* program, const PortLabel& port,
                                      const std::string& rerun);

}  // namespace murve
