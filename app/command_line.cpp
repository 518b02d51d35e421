#include "app/command_line.h"

#include <cstring>

#include "common/port_options.h"
#include "device/serial_link.h"
#include "device/usb_selector.h"

namespace murve {
namespace {

bool takes_value(const char* option) {
  for (const char* valued : {"-com", "-config", "-port", "-baud", "-backup", "-log"}) {
    if (std::strcmp(option, valued) == 0) {
      return true;
    }
  }
  return false;
}

bool is_verdict_option(const char* option) {
  return std::strcmp(option, "-verify") == 0 || std::strcmp(option, "-check") == 0 ||
         std::strcmp(option, "-list") == 0 || std::strcmp(option, "-n") == 0 ||
         std::strcmp(option, "-all") == 0;
}

// A verdict option, or one spelled with two dashes by a slip.
bool asks_verdict(const char* argument) {
  return is_verdict_option(argument) ||
         (std::strncmp(argument, "--", 2) == 0 && is_verdict_option(argument + 1));
}

// Whether a verdict option stands in option position among the arguments from `first` on, which
// the parser did not get to: a rejected command line must not read as a success to a caller who
// asked for one.
bool verdict_follows(int argc, const char* const* argv, int first) {
  for (int i = first; i < argc; ++i) {
    if (asks_verdict(argv[i])) {
      return true;
    }
    if (takes_value(argv[i])) {
      ++i;
    }
  }
  return false;
}

// What an option that takes a value is missing when it ends the command line.
CommandLineProblem missing_value(const char* option) {
  if (std::strcmp(option, "-config") == 0) {
    return CommandLineProblem::settings_path_missing;
  }
  if (std::strcmp(option, "-port") == 0) {
    return CommandLineProblem::port_name_missing;
  }
  if (std::strcmp(option, "-baud") == 0) {
    return CommandLineProblem::baud_missing;
  }
  if (std::strcmp(option, "-backup") == 0) {
    return CommandLineProblem::backup_path_missing;
  }
  if (std::strcmp(option, "-log") == 0) {
    return CommandLineProblem::log_folder_missing;
  }
  return CommandLineProblem::port_missing;
}

CommandLine rejected(CommandLineProblem problem, std::string argument = "",
                     bool verdict_asked = false) {
  CommandLine command_line;
  command_line.problem = problem;
  command_line.argument = std::move(argument);
  command_line.verdict_asked = verdict_asked;
  return command_line;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  RunOptions options;
  PortOptions port;
  bool verdict_asked = false;
  bool backup_given = false;
  bool log_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (takes_value(argument)) {
      // Whatever follows an option is its value, even another option's name.
      if (i + 1 == argc) {
        return rejected(missing_value(argument), "", verdict_asked);
      }
      const char* value = argv[++i];
      if (std::strcmp(argument, "-config") == 0) {
        options.settings_path = value;
      } else if (std::strcmp(argument, "-backup") == 0) {
        options.backup_path = value;
        backup_given = true;
      } else if (std::strcmp(argument, "-log") == 0) {
        options.log_folder = value;
        log_given = true;
      } else if (take_port_option(argument, value, port) == PortOptionUse::baud_unsupported) {
        return rejected(CommandLineProblem::baud_unsupported, value,
                        verdict_asked || verdict_follows(argc, argv, i + 1));
      }
    } else if (std::strcmp(argument, "-verify") == 0) {
      options.verify = true;
      verdict_asked = true;
    } else if (std::strcmp(argument, "-check") == 0) {
      if (options.mode != RunMode::list) {
        options.mode = RunMode::check;
      }
      verdict_asked = true;
    } else if (std::strcmp(argument, "-list") == 0) {
      options.mode = RunMode::list;
      verdict_asked = true;
    } else if (std::strcmp(argument, "-n") == 0) {
      options.dry_run = true;
      verdict_asked = true;
    } else if (std::strcmp(argument, "-all") == 0) {
      options.all = true;
      verdict_asked = true;
    } else if (std::strcmp(argument, "-wait") == 0) {
      options.wait = true;
    } else if (std::strcmp(argument, "-json") == 0) {
      options.json = true;
    } else if (std::strcmp(argument, "--help") == 0) {
      CommandLine help;
      help.info = InfoRequest::help;
      return help;
    } else if (std::strcmp(argument, "--version") == 0) {
      CommandLine version;
      version.info = InfoRequest::version;
      return version;
    } else {
      // "--verify" is a slip for "-verify", and asks for a verdict all the same.
      const bool double_dash = std::strncmp(argument, "--", 2) == 0 &&
                               (takes_value(argument + 1) || is_verdict_option(argument + 1));
      return rejected(
          double_dash ? CommandLineProblem::double_dash : CommandLineProblem::unknown_option,
          argument, verdict_asked || asks_verdict(argument) || verdict_follows(argc, argv, i + 1));
    }
  }
  options.port_number = port.port_number;
  options.port_name = port.port_name;
  options.baud = port.baud;
  // -n opens no port: what needs one contradicts it.
  if (options.dry_run) {
    const char* contrary = options.mode == RunMode::list    ? "-list"
                           : options.mode == RunMode::check ? "-check"
                           : options.verify                 ? "-verify"
                           : backup_given                   ? "-backup"
                           : options.all                    ? "-all"
                                                            : nullptr;
    if (contrary != nullptr) {
      return rejected(CommandLineProblem::dry_run_with_device, contrary, true);
    }
  }
  // -all finds its ports itself; one named would be one more, or the only one.
  if (options.all) {
    if (port.named || port.number_text != nullptr) {
      return rejected(CommandLineProblem::all_with_port, port.named ? "-port" : "-com", true);
    }
    if (options.mode == RunMode::list) {
      return rejected(CommandLineProblem::all_with_list, "", true);
    }
  } else if (options.wait || log_given) {
    return rejected(CommandLineProblem::needs_all, options.wait ? "-wait" : "-log", verdict_asked);
  }
  if (log_given && options.log_folder.empty()) {
    return rejected(CommandLineProblem::log_folder_missing, "", verdict_asked);
  }
  if (options.json && !options.all && options.mode != RunMode::list) {
    return rejected(CommandLineProblem::json_without_lines, "", verdict_asked);
  }
  // A backup keeps what the writes replace; -check and -list write nothing.
  if (backup_given && options.mode != RunMode::program) {
    return rejected(CommandLineProblem::backup_without_writes,
                    options.mode == RunMode::check ? "-check" : "-list", verdict_asked);
  }
  if (backup_given && options.backup_path.empty()) {
    return rejected(CommandLineProblem::backup_path_missing, "", verdict_asked);
  }
  // -list probes every port; the port and the settings file play no part in it.
  if (options.mode == RunMode::list) {
    return {std::move(options), CommandLineProblem::none, "", InfoRequest::none, verdict_asked};
  }
  if (options.all) {
    if (options.settings_path.empty()) {
      return rejected(CommandLineProblem::settings_path_missing, "", verdict_asked);
    }
    options.verify = true;  // each unit's verdict is its line
    return {std::move(options), CommandLineProblem::none, "", InfoRequest::none, verdict_asked};
  }
  // -n needs no port, but one it is given must be one that a run would take.
  if (port.named) {
    if (options.port_name.empty()) {
      return rejected(CommandLineProblem::port_name_missing, "", verdict_asked);
    }
    if (is_usb_selector(options.port_name) && !parse_usb_selector(options.port_name).selector) {
      return rejected(CommandLineProblem::selector_malformed, options.port_name, verdict_asked);
    }
  } else if (!is_port_number(options.port_number) &&
             !(options.dry_run && port.number_text == nullptr)) {
    return port.number_text == nullptr
               ? rejected(CommandLineProblem::port_missing, "", verdict_asked)
               : rejected(CommandLineProblem::port_out_of_range, port.number_text, verdict_asked);
  }
  if (options.settings_path.empty()) {
    return rejected(CommandLineProblem::settings_path_missing, "", verdict_asked);
  }
  return {std::move(options), CommandLineProblem::none, "", InfoRequest::none, verdict_asked};
}

}  // namespace murve
