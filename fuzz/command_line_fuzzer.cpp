// Command lines made of the input's NUL-separated pieces. A command line is accepted only with a
// port of 1-16 and a settings file named; otherwise it names why, with the first argument in an
// option's place that is no option. Parsing prints nothing.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t k_max_arguments = 64;

std::int32_t library_decimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  if (size > 0) {
    arguments.emplace_back();
    for (std::size_t i = 0; i < size && arguments.size() <= k_max_arguments; ++i) {
      if (data[i] == 0) {
        arguments.emplace_back();
      } else {
        arguments.back() += static_cast<char>(data[i]);
      }
    }
  }
  std::vector<const char*> argv = {"murvecolor"};
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }

  const murve::CommandLine parsed =
      murve::parse_command_line(static_cast<int>(argv.size()), argv.data());
  FUZZ_CHECK(murve_fuzz::take_stdout().empty());

  // The same arguments walked through by hand.
  murve::RunOptions expected;
  std::string unknown_option;
  const std::string* waiting_for = nullptr;
  bool error = false;
  for (const std::string& argument : arguments) {
    if (waiting_for == nullptr) {
      if (argument == "-com" || argument == "-config") {
        waiting_for = &argument;
        continue;
      }
      if (argument == "-verify") {
        expected.verify = true;
        continue;
      }
      unknown_option = argument;
      error = true;
      break;
    }
    if (*waiting_for == "-com") {
      expected.port_number = library_decimal(argument);
    } else {
      expected.settings_path = argument;
    }
    waiting_for = nullptr;
  }
  const bool expected_accepted = !error && waiting_for == nullptr && expected.port_number >= 1 &&
                                 expected.port_number <= 16 && !expected.settings_path.empty();

  FUZZ_CHECK(parsed.options.has_value() == expected_accepted);
  FUZZ_CHECK((parsed.problem == murve::CommandLineProblem::none) == expected_accepted);
  FUZZ_CHECK((parsed.problem == murve::CommandLineProblem::unknown_option) == error);
  if (error) {
    FUZZ_CHECK(parsed.argument == unknown_option);
  }
  if (parsed.options) {
    FUZZ_CHECK(parsed.options->port_number == expected.port_number);
    FUZZ_CHECK(parsed.options->settings_path == expected.settings_path);
    FUZZ_CHECK(parsed.options->verify == expected.verify);
  }
  return 0;
}
