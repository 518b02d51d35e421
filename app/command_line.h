#pragma once

#include <cstdint>
#include <string>

namespace murve {

struct RunOptions {
  std::int32_t port_number = 0;  // outside 1-16, so "-com" is needed to run
  std::string settings_path = "murve_color.cfg";
};

// Reads the arguments after the program's name into `options` and checks them. Gives false when
// the command line is rejected and the usage text should follow; an unknown option has then
// been reported as "invalid option [arg]".
bool parse_command_line(int argc, const char* const* argv, RunOptions& options);

}  // namespace murve
