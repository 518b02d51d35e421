#pragma once

// What murvecolor alone tells a person on standard error: its command line and its settings file.

#include <string>

#include "app/command_line.h"
#include "settings/settings_file.h"

namespace murve {

std::string explain_command_line(const CommandLine& command_line);

// `path` is the settings file as the user gave it.
std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path);

// A read error that ended the settings file early, or "" when there was none; with -verify or
// -check, that the verdict fails for it.
std::string explain_settings_read_error(const SettingsOutcome& outcome, const RunOptions& options);

// "FILE:LINE: warning: ..." for a settings line that is read otherwise than it looks.
std::string explain_settings_warning(const SettingsWarning& warning, const std::string& path);

// How many warnings were counted but not kept, or "" when none were left out.
std::string settings_warnings_left_out(const SettingsWarnings& warnings, const std::string& path);

}  // namespace murve
