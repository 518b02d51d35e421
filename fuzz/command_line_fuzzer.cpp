// Command lines made of the input's NUL-separated pieces. A command line is accepted only with a
// port (-com 1-16, or -port naming one; -n needs none) and a settings file named, or with -list,
// and -n only without -list, -check, -verify, -backup and -all; -all finds its own ports (no
// -com, -port or -list with it), -wait and -log go with -all alone, -json with -list or -all;
// otherwise it
// names why, with the first argument in an option's place that is no option, or the rate -baud
// does not take. Parsing prints nothing.

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "device/serial_link.h"
#include "device/usb_selector.h"
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
  std::string rejected_argument;
  const std::string* waiting_for = nullptr;
  bool unknown = false;
  bool bad_rate = false;
  bool port_named = false;
  bool info = false;
  bool verdict_asked = false;
  bool backup_given = false;
  bool com_given = false;
  bool log_given = false;
  // A verdict option counts in option position only, past a rejected argument too.
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-verify" || argument == "-check" || argument == "-list" || argument == "-n" ||
        argument == "-all" || argument == "--verify" || argument == "--check" ||
        argument == "--list" || argument == "--n" || argument == "--all") {
      verdict_asked = true;
    } else if (argument == "-com" || argument == "-config" || argument == "-port" ||
               argument == "-baud" || argument == "-backup" || argument == "-log") {
      ++i;
    }
  }
  for (const std::string& argument : arguments) {
    if (waiting_for == nullptr) {
      if (argument == "-com" || argument == "-config" || argument == "-port" ||
          argument == "-baud" || argument == "-backup" || argument == "-log") {
        waiting_for = &argument;
      } else if (argument == "-all") {
        expected.all = true;
      } else if (argument == "-wait") {
        expected.wait = true;
      } else if (argument == "-json") {
        expected.json = true;
      } else if (argument == "-verify") {
        expected.verify = true;
      } else if (argument == "-n") {
        expected.dry_run = true;
      } else if (argument == "-check" || argument == "-list") {
        if (expected.mode != murve::RunMode::list) {
          expected.mode = argument == "-list" ? murve::RunMode::list : murve::RunMode::check;
        }
      } else if (argument == "--help" || argument == "--version") {
        info = true;
        break;
      } else {
        rejected_argument = argument;
        unknown = true;
        break;
      }
      continue;
    }
    if (*waiting_for == "-com") {
      expected.port_number = library_decimal(argument);
      port_named = false;
      com_given = true;
    } else if (*waiting_for == "-port") {
      expected.port_name = argument;
      port_named = true;
    } else if (*waiting_for == "-baud") {
      const bool digits = !argument.empty() && argument.size() <= 9 &&
                          argument.find_first_not_of("0123456789") == std::string::npos;
      expected.baud = digits ? static_cast<unsigned>(std::stoul(argument)) : 0;
      if (!digits || !murve::is_supported_baud_rate(expected.baud)) {
        rejected_argument = argument;
        bad_rate = true;
        break;
      }
    } else if (*waiting_for == "-backup") {
      expected.backup_path = argument;
      backup_given = true;
    } else if (*waiting_for == "-log") {
      expected.log_folder = argument;
      log_given = true;
    } else {
      expected.settings_path = argument;
    }
    waiting_for = nullptr;
  }
  // A -port that begins as a USB selector must be one.
  const bool port_ok =
      port_named ? !expected.port_name.empty() &&
                       (!murve::is_usb_selector(expected.port_name) ||
                        murve::parse_usb_selector(expected.port_name).selector.has_value())
                 : (expected.port_number >= 1 && expected.port_number <= 16) ||
                       (expected.dry_run && !com_given);
  // A backup keeps what the writes replace: it needs a name, and a run that writes.
  const bool backup_ok =
      !backup_given || (expected.mode == murve::RunMode::program && !expected.backup_path.empty());
  // -n opens no port: nothing that needs the device goes with it.
  const bool dry_run_ok = !expected.dry_run || (expected.mode == murve::RunMode::program &&
                                                !expected.verify && !backup_given && !expected.all);
  // -all finds its ports itself; -wait, -log and -json add to it (-json to -list too).
  const bool all_ok = expected.all
                          ? !port_named && !com_given && expected.mode != murve::RunMode::list
                          : !expected.wait && !log_given;
  const bool log_ok = !log_given || !expected.log_folder.empty();
  const bool json_ok = !expected.json || expected.all || expected.mode == murve::RunMode::list;
  const bool expected_accepted = !info && !unknown && !bad_rate && waiting_for == nullptr &&
                                 backup_ok && dry_run_ok && all_ok && log_ok && json_ok &&
                                 (expected.mode == murve::RunMode::list ||
                                  ((port_ok || expected.all) && !expected.settings_path.empty()));

  FUZZ_CHECK(info || parsed.verdict_asked == verdict_asked);
  FUZZ_CHECK((parsed.info != murve::InfoRequest::none) == info);
  FUZZ_CHECK(parsed.options.has_value() == expected_accepted);
  FUZZ_CHECK((parsed.problem == murve::CommandLineProblem::none) == (expected_accepted || info));
  FUZZ_CHECK((parsed.problem == murve::CommandLineProblem::unknown_option ||
              parsed.problem == murve::CommandLineProblem::double_dash) == unknown);
  FUZZ_CHECK((parsed.problem == murve::CommandLineProblem::baud_unsupported) == bad_rate);
  if (unknown || bad_rate) {
    FUZZ_CHECK(parsed.argument == rejected_argument);
  }
  if (parsed.options) {
    FUZZ_CHECK(parsed.options->mode == expected.mode);
    FUZZ_CHECK(parsed.options->verify == (expected.verify || expected.all));
    FUZZ_CHECK(parsed.options->all == expected.all);
    FUZZ_CHECK(parsed.options->wait == expected.wait);
    FUZZ_CHECK(parsed.options->json == expected.json);
    FUZZ_CHECK(parsed.options->log_folder == expected.log_folder);
    FUZZ_CHECK(parsed.options->dry_run == expected.dry_run);
    FUZZ_CHECK(parsed.options->baud == expected.baud);
    if (expected.mode != murve::RunMode::list) {
      FUZZ_CHECK(parsed.options->settings_path == expected.settings_path);
      FUZZ_CHECK(parsed.options->port_name == (port_named ? expected.port_name : ""));
      if (!port_named && !expected.all) {
        FUZZ_CHECK(parsed.options->port_number == expected.port_number);
      }
    }
  }
  return 0;
}
