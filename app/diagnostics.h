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

std::string explain_command_line(const CommandLine& command_line);

// `path` is the settings file as the user gave it.
std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path);

// A read error that ended the settings file early, or "" when there was none.
std::string explain_settings_read_error(const SettingsOutcome& outcome, const std::string& path);

// `port` names the port as the caller wants it shown ("/dev/ttyUSB0", "COM5 (/dev/ttyUSB0)").
std::string explain_open_failure(const PortOpening& opening, const std::string& port);

// `path` is the device path, for the command that shows its line settings.
std::string explain_identification(const Identification& identification, const std::string& port,
                                   const std::string& path);

std::string explain_write_failure(const WriteReport& report, const std::string& port);

// Why the block at `address` was not read, or "" when it was, or was not asked for.
std::string explain_block(const BlockOutcome& block, unsigned address, const std::string& port);

// Prints "program: text" as one line on standard error.
void report_problem(const char* program, const std::string& text);

}  // namespace murve
