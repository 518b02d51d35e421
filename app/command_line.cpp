#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

#include "common/port_options.h"
#include "device/serial_link.h"
#include "settings/number_reading.h"

namespace murve {
namespace {

enum class Expecting { option, port_number, settings_path, port_name, baud };

CommandLine rejected(CommandLineProblem problem, std::string argument = "") {
  CommandLine command_line;
  command_line.problem = problem;
  command_line.argument = std::move(argument);
  return command_line;
}

CommandLine parse_arguments(int argc, const char* const* argv) {
  RunOptions options;
  Expecting expecting = Expecting::option;
  const char* port_text = nullptr;
  bool port_named = false;
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
        } else if (std::strcmp(argument, "-port") == 0) {
          expecting = Expecting::port_name;
        } else if (std::strcmp(argument, "-baud") == 0) {
          expecting = Expecting::baud;
        } else if (std::strcmp(argument, "-check") == 0) {
          if (options.mode != RunMode::list) {
            options.mode = RunMode::check;
          }
        } else if (std::strcmp(argument, "-list") == 0) {
          options.mode = RunMode::list;
        } else if (std::strcmp(argument, "--help") == 0) {
          CommandLine help;
          help.info = InfoRequest::help;
          return help;
        } else if (std::strcmp(argument, "--version") == 0) {
          CommandLine version;
          version.info = InfoRequest::version;
          return version;
        } else {
          return rejected(CommandLineProblem::unknown_option, argument);
        }
        break;
      case Expecting::port_number:
        options.port_number = read_decimal(argument);
        port_text = argument;
        port_named = false;  // the later of -com and -port stands
        expecting = Expecting::option;
        break;
      case Expecting::settings_path:
        options.settings_path = argument;
        expecting = Expecting::option;
        break;
      case Expecting::port_name:
        options.port_name = argument;
        port_named = true;
        expecting = Expecting::option;
        break;
      case Expecting::baud:
        if (!read_baud_rate(argument, options.baud)) {
          return rejected(CommandLineProblem::baud_unsupported, argument);
        }
        expecting = Expecting::option;
        break;
    }
  }
  switch (expecting) {
    case Expecting::port_number:
      return rejected(CommandLineProblem::port_missing);
    case Expecting::settings_path:
      return rejected(CommandLineProblem::settings_path_missing);
    case Expecting::port_name:
      return rejected(CommandLineProblem::port_name_missing);
    case Expecting::baud:
      return rejected(CommandLineProblem::baud_missing);
    case Expecting::option:
      break;
  }
  // -list probes every port; the port and the settings file play no part in it.
  if (options.mode == RunMode::list) {
    return {std::move(options), CommandLineProblem::none, "", InfoRequest::none, false};
  }
  if (port_named) {
    if (options.port_name.empty()) {
      return rejected(CommandLineProblem::port_name_missing);
    }
  } else {
    options.port_name.clear();
    if (!is_port_number(options.port_number)) {
      return port_text == nullptr ? rejected(CommandLineProblem::port_missing)
                                  : rejected(CommandLineProblem::port_out_of_range, port_text);
    }
  }
  if (options.settings_path.empty()) {
    return rejected(CommandLineProblem::settings_path_missing);
  }
  return {std::move(options), CommandLineProblem::none, "", InfoRequest::none, false};
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine command_line = parse_arguments(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-verify") == 0 || std::strcmp(argv[i], "-check") == 0 ||
        std::strcmp(argv[i], "-list") == 0) {
      command_line.verdict_asked = true;
    }
  }
  return command_line;
}

}  // namespace murve
