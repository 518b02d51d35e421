// Command-line parsing: the options of a run, or why the command line is rejected.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr const char* k_default_path = "murve_color.cfg";

using murve::CommandLineProblem;
constexpr CommandLineProblem k_ok = CommandLineProblem::none;
constexpr CommandLineProblem k_unknown = CommandLineProblem::unknown_option;
constexpr CommandLineProblem k_no_port = CommandLineProblem::port_missing;
constexpr CommandLineProblem k_bad_port = CommandLineProblem::port_out_of_range;
constexpr CommandLineProblem k_no_path = CommandLineProblem::settings_path_missing;
constexpr CommandLineProblem k_dry_run_with_device = CommandLineProblem::dry_run_with_device;

struct CommandLineCase {
  std::vector<std::string> arguments;  // after the program's name
  CommandLineProblem problem;
  // Accepted: the options; rejected: `argument` is the argument the rejection names.
  std::int32_t port_number = 0;
  std::string settings_path = k_default_path;
  bool verify = false;
  std::string argument = "";
  bool dry_run = false;
};

TEST(CommandLine, ArgumentLists) {
  const std::vector<CommandLineCase> cases = {
      {{}, k_no_port},
      {{"-com", "5"}, k_ok, 5},
      {{"-com", "0"}, k_bad_port, 0, "", false, "0"},
      {{"-com", "17"}, k_bad_port, 0, "", false, "17"},
      {{"-com", "1"}, k_ok, 1},
      {{"-com", "16"}, k_ok, 16},
      {{"-com", "-1"}, k_bad_port, 0, "", false, "-1"},
      {{"-com", "5x"}, k_ok, 5},
      {{"-com", "x5"}, k_bad_port, 0, "", false, "x5"},
      {{"-com", "0x10"}, k_bad_port, 0, "", false, "0x10"},
      {{"-com", " \t+7"}, k_ok, 7},
      {{"-com", "4294967297"}, k_bad_port, 0, "", false, "4294967297"},
      {{"-com", "-4294967295"}, k_bad_port, 0, "", false, "-4294967295"},
      {{"-com", "2147483648"}, k_bad_port, 0, "", false, "2147483648"},
      {{"-com"}, k_no_port},
      {{"-com", "5", "-config"}, k_no_path},
      {{"-COM", "5"}, k_unknown, 0, "", false, "-COM"},
      {{"-Config", "a.cfg", "-com", "5"}, k_unknown, 0, "", false, "-Config"},
      {{"--com", "5"}, CommandLineProblem::double_dash, 0, "", false, "--com"},
      {{"-com ", "5"}, k_unknown, 0, "", false, "-com "},
      {{"", "-com", "5"}, k_unknown, 0, "", false, ""},
      {{"-com", "3", "-com", "4"}, k_ok, 4},
      {{"-com", "-config"}, k_bad_port, 0, "", false, "-config"},
      {{"-com", "5", "-config", ""}, k_no_path},
      {{"-x", "-com", "5"}, k_unknown, 0, "", false, "-x"},
      {{"-com", "5", "extra"}, k_unknown, 0, "", false, "extra"},
      // Parsing stops at the first unknown option, so only that one is reported.
      {{"-com", "5", "-x", "-y"}, k_unknown, 0, "", false, "-x"},
      {{"-x", "-config", "a.cfg"}, k_unknown, 0, "", false, "-x"},
      {{"5"}, k_unknown, 0, "", false, "5"},
      {{"-config", "my colors.cfg", "-com", "2"}, k_ok, 2, "my colors.cfg"},
      {{"-com", "5", "-config", "a.cfg", "-config", "b.cfg"}, k_ok, 5, "b.cfg"},
      // Whatever follows an option is its value, even another option's name.
      {{"-config", "-com", "-com", "3"}, k_ok, 3, "-com"},
      {{"-com", "5", "-config", "-"}, k_ok, 5, "-"},
      {{"-com", "5", "-config", " x "}, k_ok, 5, " x "},
      {{"-config", "a.cfg"}, k_no_port},
      // -verify takes no value and may stand anywhere among the others.
      {{"-com", "5", "-verify"}, k_ok, 5, k_default_path, true},
      {{"-verify", "-config", "a.cfg", "-com", "5"}, k_ok, 5, "a.cfg", true},
      {{"-verify", "-verify", "-com", "5"}, k_ok, 5, k_default_path, true},
      {{"-com", "5", "-verify", "7"}, k_unknown, 0, "", false, "7"},
      {{"-com", "-verify"}, k_bad_port, 0, "", false, "-verify"},
      {{"-com", "5", "-config", "-verify"}, k_ok, 5, "-verify"},
      {{"-Verify", "-com", "5"}, k_unknown, 0, "", false, "-Verify"},
      {{"-verify"}, k_no_port},
      // -backup keeps what a run's writes replace: a run that writes nothing has none to keep.
      {{"-com", "5", "-backup", "-verify"}, k_ok, 5},
      {{"-com", "5", "-backup"}, CommandLineProblem::backup_path_missing},
      {{"-com", "5", "-backup", ""}, CommandLineProblem::backup_path_missing},
      {{"-backup", "b", "-check", "-com", "5"},
       CommandLineProblem::backup_without_writes,
       0,
       "",
       false,
       "-check"},
      {{"-list", "-backup", "b"}, CommandLineProblem::backup_without_writes, 0, "", false, "-list"},
      // -n opens no port and needs none, but a port it is given is checked as for a run.
      {{"-n"}, k_ok, 0, k_default_path, false, "", true},
      {{"-n", "-com", "17"}, k_bad_port, 0, "", false, "17"},
      {{"-check", "-com", "5", "-n"}, k_dry_run_with_device, 0, "", false, "-check"},
      {{"-n", "-com", "5", "-verify"}, k_dry_run_with_device, 0, "", false, "-verify"},
      {{"-n", "-backup", "b"}, k_dry_run_with_device, 0, "", false, "-backup"},
      // -all finds its own ports, each verified; -wait and -log go with it alone.
      {{"-all", "-wait", "-log", "l", "-json"}, k_ok, 0, k_default_path, true},
      {{"-all", "-com", "5"}, CommandLineProblem::all_with_port, 0, "", false, "-com"},
      {{"-port", "p", "-all"}, CommandLineProblem::all_with_port, 0, "", false, "-port"},
      {{"-all", "-list"}, CommandLineProblem::all_with_list},
      {{"-all", "-n"}, k_dry_run_with_device, 0, "", false, "-all"},
      {{"-com", "5", "-wait"}, CommandLineProblem::needs_all, 0, "", false, "-wait"},
      {{"-com", "5", "-log", "l"}, CommandLineProblem::needs_all, 0, "", false, "-log"},
      {{"-all", "-log", ""}, CommandLineProblem::log_folder_missing},
      {{"-com", "5", "-json"}, CommandLineProblem::json_without_lines},
  };
  for (const CommandLineCase& c : cases) {
    std::string joined;
    std::vector<const char*> argv = {"murvecolor"};
    for (const std::string& argument : c.arguments) {
      argv.push_back(argument.c_str());
      joined += "[" + argument + "]";
    }
    const murve::CommandLine parsed =
        murve::parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.problem, c.problem) << joined;
    EXPECT_EQ(parsed.options.has_value(), c.problem == k_ok) << joined;
    if (parsed.options) {
      EXPECT_EQ(parsed.options->port_number, c.port_number) << joined;
      EXPECT_EQ(parsed.options->settings_path, c.settings_path) << joined;
      EXPECT_EQ(parsed.options->verify, c.verify) << joined;
      EXPECT_EQ(parsed.options->dry_run, c.dry_run) << joined;
    } else {
      EXPECT_EQ(parsed.argument, c.argument) << joined;
    }
  }
}

}  // namespace
