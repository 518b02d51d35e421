#pragma once

namespace murve {

// --help: every option, the port map and the exit statuses, in English, on standard output.
void print_help_text();

// --version: "murvecolor VERSION", as murvedump and murvesim print theirs.
void print_version();

}  // namespace murve
