#pragma once

namespace murve {

// The whole run of murvecolor: banner, command line, settings file, and the device dialogue.
// What it reports goes to standard output, and why something failed to standard error; it gives
// the exit status: always 0, unless -verify asks for a verdict.
int run_murvecolor(int argc, const char* const* argv);

}  // namespace murve
