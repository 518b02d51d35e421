// Command-line parsing: accepted or rejected, what it leaves in RunOptions, and what it prints.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t k_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t k_min = std::numeric_limits<std::int32_t>::min();
constexpr const char* k_default_path = "murve_color.cfg";

struct CommandLineCase {
  std::vector<std::string> arguments;  // after the program's name
  bool accepted;
  std::int32_t port_number;
  std::string settings_path;
  std::string output;
};

TEST(CommandLine, ArgumentLists) {
  const std::vector<CommandLineCase> cases = {
      {{}, false, 0, k_default_path, ""},
      {{"-com", "5"}, true, 5, k_default_path, ""},
      {{"-com", "0"}, false, 0, k_default_path, ""},
      {{"-com", "17"}, false, 17, k_default_path, ""},
      {{"-com", "1"}, true, 1, k_default_path, ""},
      {{"-com", "16"}, true, 16, k_default_path, ""},
      {{"-com", "-1"}, false, -1, k_default_path, ""},
      {{"-com", "5x"}, true, 5, k_default_path, ""},
      {{"-com", "x5"}, false, 0, k_default_path, ""},
      {{"-com", "0x10"}, false, 0, k_default_path, ""},
      {{"-com", " \t+7"}, true, 7, k_default_path, ""},
      {{"-com", "4294967297"}, false, k_max, k_default_path, ""},
      {{"-com", "-4294967295"}, false, k_min, k_default_path, ""},
      {{"-com", "2147483648"}, false, k_max, k_default_path, ""},
      {{"-com"}, false, 0, k_default_path, ""},
      {{"-com", "5", "-config"}, false, 5, k_default_path, ""},
      {{"-COM", "5"}, false, 0, k_default_path, "invalid option [-COM]\n"},
      {{"-Config", "a.cfg", "-com", "5"}, false, 0, k_default_path, "invalid option [-Config]\n"},
      {{"--com", "5"}, false, 0, k_default_path, "invalid option [--com]\n"},
      {{"-com ", "5"}, false, 0, k_default_path, "invalid option [-com ]\n"},
      {{"", "-com", "5"}, false, 0, k_default_path, "invalid option []\n"},
      {{"-com", "3", "-com", "4"}, true, 4, k_default_path, ""},
      {{"-com", "-config"}, false, 0, k_default_path, ""},
      {{"-com", "5", "-config", ""}, false, 5, "", ""},
      {{"-x", "-com", "5"}, false, 0, k_default_path, "invalid option [-x]\n"},
      {{"-com", "5", "extra"}, false, 5, k_default_path, "invalid option [extra]\n"},
      // Parsing stops at the first unknown option, so only that one is reported.
      {{"-com", "5", "-x", "-y"}, false, 5, k_default_path, "invalid option [-x]\n"},
      {{"-x", "-config", "a.cfg"}, false, 0, k_default_path, "invalid option [-x]\n"},
      {{"5"}, false, 0, k_default_path, "invalid option [5]\n"},
      {{"-config", "my colors.cfg", "-com", "2"}, true, 2, "my colors.cfg", ""},
      {{"-com", "5", "-config", "a.cfg", "-config", "b.cfg"}, true, 5, "b.cfg", ""},
      // Whatever follows an option is its value, even another option's name.
      {{"-config", "-com", "-com", "3"}, true, 3, "-com", ""},
      {{"-com", "5", "-config", "-"}, true, 5, "-", ""},
      {{"-com", "5", "-config", " x "}, true, 5, " x ", ""},
      {{"-config", "a.cfg"}, false, 0, "a.cfg", ""},
  };
  for (const CommandLineCase& c : cases) {
    std::string joined;
    std::vector<const char*> argv = {"murvecolor"};
    for (const std::string& argument : c.arguments) {
      argv.push_back(argument.c_str());
      joined += "[" + argument + "]";
    }
    murve::RunOptions options;
    testing::internal::CaptureStdout();
    const bool accepted =
        murve::parse_command_line(static_cast<int>(argv.size()), argv.data(), options);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(accepted, c.accepted) << joined;
    EXPECT_EQ(options.port_number, c.port_number) << joined;
    EXPECT_EQ(options.settings_path, c.settings_path) << joined;
    EXPECT_EQ(output, c.output) << joined;
  }
}

}  // namespace
