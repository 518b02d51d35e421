#pragma once

namespace murve {

// --help: every option, the port map and the exit statuses, in English, on standard output.
void print_help_text();

// --version: "murvecolor VERSION"; murvedump and murvesim add "(murvecolor)" to their names.
void print_version();

}  // namespace murve
