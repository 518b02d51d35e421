// Command lines made of the input's NUL-separated pieces. A command line is accepted only with a
// port of 1-16 and a settings file named, and then prints nothing; otherwise it prints at most
// one "invalid option [...]", for the first argument in an option's place that is no option.

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

  murve::RunOptions options;
  const bool accepted =
      murve::parse_command_line(static_cast<int>(argv.size()), argv.data(), options);
  const std::string output = murve_fuzz::take_stdout();

  // The same arguments walked through by hand.
  murve::RunOptions expected;
  std::string expected_output;
  const std::string* waiting_for = nullptr;
  bool error = false;
  for (const std::string& argument : arguments) {
    if (waiting_for == nullptr) {
      if (argument == "-com" || argument == "-config") {
        waiting_for = &argument;
        continue;
      }
      expected_output = "invalid option [" + argument + "]\n";
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

  FUZZ_CHECK(accepted == expected_accepted);
  FUZZ_CHECK(output == expected_output);
  FUZZ_CHECK(options.port_number == expected.port_number);
  FUZZ_CHECK(options.settings_path == expected.settings_path);
  FUZZ_CHECK(!accepted || (output.empty() && options.port_number >= 1 &&
                           options.port_number <= 16 && !options.settings_path.empty()));
  return 0;
}
