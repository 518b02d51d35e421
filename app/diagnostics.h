#pragma once

// What murvecolor and murvedump tell a person on standard error: one English sentence for each
// outcome that went wrong, with the system's reason and what to check. The callers add their
// program's name in front and say what it means for their run.

#include <string>

#include "app/command_line.h"
#include "device/device_programming.h"
#include "device/readback.h"
#include "device/serial_link.h"
#include "settings/settings_file.h"

namespace murve {

// A port as the messages name it.
struct PortLabel {
  std::string shown;          // as the caller shows it: "/dev/ttyUSB0", "COM5 (/dev/ttyUSB0)"
  PortAddress address;        // where it was looked for
  bool flow_control = false;  // the line holds output back while the device is not ready
};

std::string explain_command_line(const CommandLine& command_line);

// `path` is the settings file as the user gave it.
std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path);

// A read error that ended the settings file early, or "" when there was none.
std::string explain_settings_read_error(const SettingsOutcome& outcome, const std::string& path);

std::string explain_open_failure(const PortOpening& opening, const PortLabel& port);

std::string explain_identification(const Identification& identification, const PortLabel& port);

std::string explain_write_failure(const WriteReport& report, const PortLabel& port);

// Why the block at `address` was not read, or "" when it was, or was not asked for.
std::string explain_block(const BlockOutcome& block, unsigned address, const PortLabel& port);

// The one line for a run stopped during its writes: what the device holds, what to do. `rerun`
// is the command line that reaches the same port ("-com 5", "-port /dev/ttyUSB0").
std::string interrupted_writes_notice(const char* program, const PortLabel& port,
                                      const std::string& rerun);

// Prints "program: text" as one line on standard error.
void report_problem(const char* program, const std::string& text);

// "FILE:LINE: warning: ..." for a settings line that is read otherwise than it looks.
std::string explain_settings_warning(const SettingsWarning& warning, const std::string& path);

// How many warnings were counted but not kept, or "" when none were left out.
std::string settings_warnings_left_out(const SettingsWarnings& warnings, const std::string& path);

}  // namespace murve
