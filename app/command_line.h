#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace murve {

struct RunOptions {
  std::int32_t port_number = 0;  // outside 1-16, so "-com" is needed to run
  std::string settings_path = "murve_color.cfg";
  bool verify = false;  // compare what was read back with what was written, and say so
};

enum class CommandLineProblem {
  none,
  unknown_option,         // `argument` is no option; "invalid option [...]" is printed for it
  port_missing,           // no "-com", or "-com" without its value at the end
  port_out_of_range,      // `argument` is the value of the last "-com"
  settings_path_missing,  // "-config" without its value at the end, or with an empty one
};

// The options of a run, or why the command line was rejected and the usage text follows.
struct CommandLine {
  std::optional<RunOptions> options;
  CommandLineProblem problem = CommandLineProblem::none;
  std::string argument;
};

// Reads the arguments after the program's name.
CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace murve
