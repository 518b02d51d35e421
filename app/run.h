#pragma once

namespace murve {

// The whole run of murvecolor: banner, command line, settings file, and the device dialogue.
// Everything it reports goes to standard output; it gives the exit status, always 0.
int run_murvecolor(int argc, const char* const* argv);

}  // namespace murve
