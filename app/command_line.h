#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace murve {

enum class RunMode {
  program,  // write the settings file into the device, read it back, list it
  check,    // -check: write nothing, read back, list, and compare with the file
  list,     // -list: probe every serial port for a MURVE Pro
};

inline constexpr const char* k_default_settings_path = "murve_color.cfg";

struct RunOptions {
  std::int32_t port_number = 0;  // outside 1-16, so "-com" is needed to run
  std::string port_name;         // -port: the port itself; set only when it stands over -com
  unsigned baud = 0;             // -baud: the line's rate for the run; 0 keeps the port's own
  std::string settings_path = k_default_settings_path;
  std::string backup_path;  // -backup: a file or folder for what the device held before the writes
  bool verify = false;      // compare what was read back with what was written, and say so
  RunMode mode = RunMode::program;
  bool dry_run = false;    // -n: read the settings file and print what would be sent; no port
  bool all = false;        // -all: every port a MURVE Pro answers on, each a unit, verified
  bool wait = false;       // -wait: with -all, go on with each device plugged in later
  std::string log_folder;  // -log: with -all, each unit's output as a file of its own in it
  bool json = false;       // -json: -list's and -all's lines as JSON Lines
};

enum class CommandLineProblem {
  none,
  unknown_option,         // `argument` is no option; "invalid option [...]" is printed for it
  double_dash,            // `argument` is an option spelled with two dashes ("--verify"); the same
  port_missing,           // no "-com" nor "-port", or "-com" without its value at the end
  port_out_of_range,      // `argument` is the value of the last "-com"
  settings_path_missing,  // "-config" without its value at the end, or with an empty one
  port_name_missing,      // "-port" without its value at the end, or with an empty one
  selector_malformed,     // `argument` is the value of the last "-port": usb:, but no selector
  baud_missing,           // "-baud" without its value at the end
  baud_unsupported,       // `argument` is the value of the last "-baud"
  backup_path_missing,    // "-backup" without its value at the end, or with an empty one
  backup_without_writes,  // "-backup" with `argument`, "-check" or "-list", which write nothing
  dry_run_with_device,    // "-n" with `argument`: "-list", "-check", "-verify", "-backup", "-all"
  all_with_port,          // "-all" with `argument`: "-com" or "-port", which name one port
  all_with_list,          // "-all" with "-list"
  needs_all,              // `argument` ("-wait", "-log") goes only with "-all"
  log_folder_missing,     // "-log" without its value at the end, or with an empty one
  json_without_lines,     // "-json" without "-list" or "-all", whose lines it turns into JSON
};

enum class InfoRequest {
  none,
  help,     // --help
  version,  // --version
};

// The options of a run, or why the command line was rejected and the usage text follows.
struct CommandLine {
  std::optional<RunOptions> options;
  CommandLineProblem problem = CommandLineProblem::none;
  std::string argument;
  InfoRequest info = InfoRequest::none;  // --help or --version, in place of a run
  // "-verify", "-check", "-list", "-n" or "-all" stands in option position: the caller asked for a
  // verdict, which the exit status gives, so a rejected command line must not read as a success.
  bool verdict_asked = false;
};

// Reads the arguments after the program's name.
CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace murve
