#include "app/messages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/message.h"
#include "common/platform.h"
#include "common/port_options.h"
#include "common/report.h"
#include "common/usb_port.h"
#include "device/device_programming.h"
#include "device/serial_link.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace murve {
namespace {

// The settings file is the C runtime's: its errors are errno values on every platform, which
// Windows' system messages would word as other errors. A sentence, as a {reason} is.
std::string settings_error_text(int error_number) {
  return sentence_of(std::strerror(error_number));
}

// Where a person finds the example settings file: installed, or in the source.
#ifndef _WIN32
std::string installed_example() {
  // Installed, the example is in share/doc beside bin, under whatever prefix.
  const std::string folder = program_folder();
  if (folder.empty()) {
    return "";
  }
  const std::string installed =
      folder.substr(0, folder.find_last_of('/')) + "/share/doc/murvecolor/examples/murve_color.cfg";
  struct stat status {};
  return stat(installed.c_str(), &status) == 0 ? installed : "";
}
#endif

std::string missing_default_file(const std::string& path, int error_number) {
  const std::string file = printable(path);
  const std::string reason = settings_error_text(error_number);
#ifdef _WIN32
  return message(
      "{file}: cannot open the settings file: {reason} (-config FILE names another; "
      "murve_color.cfg comes with murvecolor.exe, in the same folder of the zip)",
      {{"file", file}, {"reason", reason}});
#else
  if (const std::string example = installed_example(); !example.empty()) {
    return message(
        "{file}: cannot open the settings file: {reason} (-config FILE names another; the "
        "example is {example})",
        {{"file", file}, {"reason", reason}, {"example", example}});
  }
  return message(
      "{file}: cannot open the settings file: {reason} (-config FILE names another; the example "
      "is examples/murve_color.cfg in murvecolor's source)",
      {{"file", file}, {"reason", reason}});
#endif
}

std::string warning_text(const SettingsWarning& warning, const std::string& file) {
  const std::string stored = hex_byte_list(warning.stored);
  const std::initializer_list<MessagePart> parts = {
      {"file", file},
      {"line", std::to_string(warning.line_number)},
      {"word", quoted_word(warning.token)},
      {"stored", stored},
      {"leading", quoted_word(warning.token.substr(0, warning.read_length))},
      {"limit", warning.token.find('-') == std::string::npos ? "7fffffff" : "-80000000"},
      {"bytes", hex_byte_list(warning.character)}};
  switch (warning.kind) {
    case SettingsWarningKind::not_a_number:
      return message("{file}:{line}: warning: \"{word}\" is not a hex number; {stored} is stored",
                     parts);
    case SettingsWarningKind::partly_a_number:
      return message(
          "{file}:{line}: warning: \"{word}\" is not a hex number; {stored} is stored (from its "
          "leading \"{leading}\")",
          parts);
    case SettingsWarningKind::above_ff:
      return message("{file}:{line}: warning: {word} is above ff; its low byte {stored} is stored",
                     parts);
    case SettingsWarningKind::below_zero:
      return message("{file}:{line}: warning: {word} is below 0; its low byte {stored} is stored",
                     parts);
    case SettingsWarningKind::beyond_32_bits:
      return message(
          "{file}:{line}: warning: {word} is beyond the signed 32-bit range, so it reads as "
          "{limit}; {stored} is stored",
          parts);
    case SettingsWarningKind::comment_read_as_values:
      return message(
          "{file}:{line}: warning: a comment must start its line: the words from \"{word}\" on "
          "are read as values, storing {stored}",
          parts);
    case SettingsWarningKind::comment_as_color_value:
      return message(
          "{file}:{line}: warning: a comment must start its line: \"{word}\" is read as the "
          "colour code's value; {stored} is stored",
          parts);
    case SettingsWarningKind::comment_ignored:
      return message(
          "{file}:{line}: warning: a comment must start its line: the words from \"{word}\" on "
          "are ignored only because a colour code takes one value",
          parts);
    case SettingsWarningKind::words_after_color_value:
      return message(
          "{file}:{line}: warning: a colour code takes one value: the words from \"{word}\" on "
          "are ignored",
          parts);
    case SettingsWarningKind::carriage_return:
      return message(
          "{file}:{line}: warning: a carriage return without a line feed ends no line: what "
          "follows it, up to the next line feed or the end of the file, is read as more of this "
          "line (save the file with LF or CR LF line ends)",
          parts);
    case SettingsWarningKind::read_as_code_0:
      return message(
          "{file}:{line}: warning: \"{word}\" is read as c0: a c without a number names colour "
          "code 0",
          parts);
    case SettingsWarningKind::full_width_space:
      return message(
          "{file}:{line}: warning: \"{word}\" is read as one word: the full-width space in it "
          "(U+3000, {bytes} in the file) does not separate words; type an ordinary space",
          parts);
    case SettingsWarningKind::no_break_space:
      return message(
          "{file}:{line}: warning: \"{word}\" is read as one word: the no-break space in it "
          "(U+00A0, {bytes} in the file) does not separate words; type an ordinary space",
          parts);
    case SettingsWarningKind::carriage_return_in_comment:
      return message(
          "{file}:{line}: warning: a carriage return without a line feed ends no line: what "
          "follows it, up to the next line feed or the end of the file, is part of this comment "
          "and unused (save the file with LF or CR LF line ends)",
          parts);
  }
  return "";
}

}  // namespace

std::string explain_command_line(const CommandLine& command_line) {
  const std::string value = quoted_word(command_line.argument);
  switch (command_line.problem) {
    case CommandLineProblem::unknown_option:
      return command_line.argument.empty()
                 ? message("unknown option: an empty argument")
                 : message("unknown option {option}", {{"option", value}});
    case CommandLineProblem::double_dash:
      return message("unknown option {option}: options take one dash ({single})",
                     {{"option", value}, {"single", value.substr(1)}});
    case CommandLineProblem::port_missing:
      return message("-com needs a port number from 1 to 16 (or -port names the port)");
    case CommandLineProblem::port_out_of_range:
#ifdef _WIN32
      if (const int number = std::atoi(command_line.argument.c_str()); number > k_port_count) {
        return message(
            "-com needs a port number from 1 to 16, not {value}: -port COM{number} reaches it, or "
            "Device Manager can give the port a number up to 16",
            {{"value", value}, {"number", std::to_string(number)}});
      }
      return message("-com needs a port number from 1 to 16, not {value}", {{"value", value}});
#else
      return message(
          "-com needs a port number from 1 to 16, not {value}: -port PATH names any port",
          {{"value", value}});
#endif
    case CommandLineProblem::settings_path_missing:
      return message("-config needs a file name");
    case CommandLineProblem::port_name_missing:
#ifdef _WIN32
      return message("-port needs a port, such as COM5");
#else
      return message("-port needs a port, such as /dev/ttyUSB0");
#endif
    case CommandLineProblem::selector_malformed:
      return explain_selector_problem(command_line.argument);
    case CommandLineProblem::baud_missing:
      return message("-baud needs a rate: {rates}", {{"rates", supported_rates_text()}});
    case CommandLineProblem::baud_unsupported:
      return message("-baud takes one of {rates}, not {value}",
                     {{"rates", supported_rates_text()}, {"value", value}});
    case CommandLineProblem::backup_path_missing:
      return message("-backup needs a file or a folder");
    case CommandLineProblem::backup_without_writes:
      return message(
          "-backup keeps what the device held before a run writes to it, and {option} writes "
          "nothing (murvedump makes a backup without writing)",
          {{"option", command_line.argument}});
    case CommandLineProblem::dry_run_with_device:
      return message("-n opens no port, so it does not go with {option}",
                     {{"option", command_line.argument}});
    case CommandLineProblem::all_with_port:
      return message(
          "-all finds every port a MURVE Pro answers on by itself, so it does not go with "
          "{option}: choose -all for every device, or {option} for one",
          {{"option", command_line.argument}});
    case CommandLineProblem::all_with_list:
      return message(
          "-all programs every device -list would find, so the two do not go together: "
          "choose -list to see them, or -all to program them");
    case CommandLineProblem::needs_all:
      return message("{option} goes only with -all", {{"option", command_line.argument}});
    case CommandLineProblem::log_folder_missing:
      return message("-log needs a folder");
    case CommandLineProblem::json_without_lines:
      return message(
          "-json turns the lines of -list or -all into JSON, and goes only with one "
          "of them");
    case CommandLineProblem::none:
      break;
  }
  return "";
}

std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path) {
  switch (outcome.failure) {
    case SettingsFailure::cannot_open:
      if (outcome.refusal == SettingsRefusal::too_large) {
        return message(
            "{file}: cannot open the settings file: it is larger than 1 MiB, which no settings "
            "file is",
            {{"file", printable(path)}});
      }
      if (path == k_default_settings_path && outcome.error_number == ENOENT) {
        return missing_default_file(path, outcome.error_number);
      }
      return message(
          "{file}: cannot open the settings file: {reason}",
          {{"file", printable(path)}, {"reason", settings_error_text(outcome.error_number)}});
    case SettingsFailure::bad_line: {
      const std::initializer_list<MessagePart> parts = {
          {"file", printable(path)},
          {"line", std::to_string(outcome.line_number)},
          {"word", quoted_word(outcome.first_token)}};
      if (outcome.byte_order_mark) {
        // Editors that write the mark offer to save without it.
        return message(
            "{file}:{line}: a line must begin with #, c0 to c63, c2608, c2151 or cspec, not "
            "\"{word}\": the file begins with a UTF-8 byte-order mark; save it without one (in "
            "Notepad, as \"UTF-8\" rather than \"UTF-8 with BOM\")",
            parts);
      }
      return message(
          "{file}:{line}: a line must begin with #, c0 to c63, c2608, c2151 or cspec, not "
          "\"{word}\"",
          parts);
    }
    case SettingsFailure::none:
      break;
  }
  return "";
}

std::string explain_settings_read_error(const SettingsOutcome& outcome, const RunOptions& options) {
  if (!outcome.ok() || outcome.error_number == 0) {
    return "";
  }
  const std::initializer_list<MessagePart> parts = {
      {"file", printable(options.settings_path)},
      {"line", std::to_string(outcome.line_number + 1)},
      {"reason", settings_error_text(outcome.error_number)}};
  // The device may hold every line that was read, but that is not the file.
  if (options.mode == RunMode::check) {
    return message(
        "{file}:{line}: read error: {reason}; the file was not read whole, so -check fails: the "
        "device is compared with the lines before it",
        parts);
  }
  if (options.verify) {
    return message(
        "{file}:{line}: read error: {reason}; the file was not read whole, so -verify fails: the "
        "lines before it are written",
        parts);
  }
  return message("{file}:{line}: read error: {reason}; the lines before it are used", parts);
}

std::string explain_settings_warning(const SettingsWarning& warning, const std::string& path) {
  return warning_text(warning, printable(path));
}

std::string settings_warnings_left_out(const SettingsWarnings& warnings, const std::string& path) {
  const std::size_t left_out = warnings.count - warnings.kept.size();
  if (left_out == 0) {
    return "";
  }
  if (left_out == 1) {
    return message("{file}: warning: 1 more warning is not shown", {{"file", printable(path)}});
  }
  return message("{file}: warning: {count} more warnings are not shown",
                 {{"file", printable(path)}, {"count", std::to_string(left_out)}});
}

}  // namespace murve
