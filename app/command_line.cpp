#include "app/command_line.h"

#include <cstring>

#include "device/serial_link.h"
#include "settings/number_reading.h"

namespace murve {
namespace {

enum class Expecting { option, port_number, settings_path };

CommandLine rejected(CommandLineProblem problem, std::string argument = "") {
  return {std::nullopt, problem, std::move(argument)};
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  RunOptions options;
  Expecting expecting = Expecting::option;
  const char* port_text = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    switch (expecting) {
      case Expecting::option:
        if (std::strcmp(argument, "-com") == 0) {
          expecting = Expecting::port_number;
        } else if (std::strcmp(argument, "-config") == 0) {
          expecting = Expecting::settings_path;
        } else if (std::strcmp(argument, "-verify") == 0) {
          options.verify = true;
        } else {
          return rejected(CommandLineProblem::unknown_option, argument);
        }
        break;
      case Expecting::port_number:
        options.port_number = read_decimal(argument);
        port_text = argument;
        expecting = Expecting::option;
        break;
      case Expecting::settings_path:
        options.settings_path = argument;
        expecting = Expecting::option;
        break;
    }
  }
  if (expecting == Expecting::port_number) {
    return rejected(CommandLineProblem::port_missing);
  }
  if (expecting == Expecting::settings_path) {
    return rejected(CommandLineProblem::settings_path_missing);
  }
  if (!is_port_number(options.port_number)) {
    return port_text == nullptr ? rejected(CommandLineProblem::port_missing)
                                : rejected(CommandLineProblem::port_out_of_range, port_text);
  }
  if (options.settings_path.empty()) {
    return rejected(CommandLineProblem::settings_path_missing);
  }
  return {std::move(options), CommandLineProblem::none, ""};
}

}  // namespace murve
