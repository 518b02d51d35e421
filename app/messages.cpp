#include "app/messages.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/report.h"
#include "device/serial_link.h"
#include "settings/text_format.h"

#ifndef _WIN32
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace murve {
namespace {

// The settings file is the C runtime's: its errors are errno values on every platform, which
// Windows' system messages would word as other errors.
std::string settings_error_text(int error_number) {
  return std::strerror(error_number);
}
std::string supported_rates_text() {
  std::string text;
  for (const unsigned rate : supported_baud_rates()) {
    text += (text.empty() ? "" : ", ") + std::to_string(rate);
  }
  return text;
}

// Where a person finds the example settings file.
std::string example_file_hint() {
#ifdef _WIN32
  return "murve_color.cfg comes with murvecolor.exe, in the same folder of the zip";
#else
  // Installed, the example is in share/doc beside bin, under whatever prefix.
  std::array<char, PATH_MAX> program{};
  const ssize_t length = readlink("/proc/self/exe", program.data(), program.size() - 1);
  if (length > 0) {
    std::string installed(program.data(), static_cast<std::size_t>(length));
    installed = installed.substr(0, installed.find_last_of('/'));
    installed = installed.substr(0, installed.find_last_of('/')) +
                "/share/doc/murvecolor/examples/murve_color.cfg";
    struct stat status {};
    if (stat(installed.c_str(), &status) == 0) {
      return "the example is " + installed;
    }
  }
  return "the example is examples/murve_color.cfg in murvecolor's source";
#endif
}

}  // namespace

std::string explain_command_line(const CommandLine& command_line) {
  switch (command_line.problem) {
    case CommandLineProblem::unknown_option:
      return command_line.argument.empty() ? "unknown option: an empty argument"
                                           : "unknown option " + printable(command_line.argument);
    case CommandLineProblem::port_missing:
      return "-com needs a port number from 1 to 16 (or -port names the port)";
    case CommandLineProblem::port_out_of_range: {
      std::string text =
          "-com needs a port number from 1 to 16, not " + printable(command_line.argument);
#ifdef _WIN32
      const int number = std::atoi(command_line.argument.c_str());
      if (number > k_port_count) {
        text += format_text(
            ": -port COM%d reaches it, or Device Manager can give the port a number up to 16",
            number);
      }
#else
      text += ": -port PATH names any port";
#endif
      return text;
    }
    case CommandLineProblem::settings_path_missing:
      return "-config needs a file name";
    case CommandLineProblem::port_name_missing:
#ifdef _WIN32
      return "-port needs a port, such as COM5";
#else
      return "-port needs a port, such as /dev/ttyUSB0";
#endif
    case CommandLineProblem::baud_missing:
      return "-baud needs a rate: " + supported_rates_text();
    case CommandLineProblem::baud_unsupported:
      return "-baud takes one of " + supported_rates_text() + ", not " +
             printable(command_line.argument);
    case CommandLineProblem::none:
      break;
  }
  return "";
}

std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path) {
  switch (outcome.failure) {
    case SettingsFailure::cannot_open: {
      std::string text = printable(path) + ": cannot open the settings file: " +
                         settings_error_text(outcome.error_number);
      if (path == RunOptions{}.settings_path && outcome.error_number == ENOENT) {
        text += " (-config FILE names another; " + example_file_hint() + ")";
      }
      return text;
    }
    case SettingsFailure::bad_line: {
      std::string text = format_text(
          "%s:%u: a line must begin with #, c0 to c63, c2608, c2151 or cspec, "
          "not \"%s\"",
          printable(path).c_str(), static_cast<unsigned>(outcome.line_number),
          printable(outcome.first_token).c_str());
      if (outcome.byte_order_mark) {
        // Editors that write the mark offer to save without it.
        text +=
            ": the file begins with a UTF-8 byte-order mark; save it without one (in Notepad, "
            "as \"UTF-8\" rather than \"UTF-8 with BOM\")";
      }
      return text;
    }
    case SettingsFailure::none:
      break;
  }
  return "";
}

std::string explain_settings_read_error(const SettingsOutcome& outcome, const std::string& path) {
  if (!outcome.ok() || outcome.error_number == 0) {
    return "";
  }
  return format_text("%s:%u: read error: %s; the lines before it are used", printable(path).c_str(),
                     static_cast<unsigned>(outcome.line_number + 1),
                     settings_error_text(outcome.error_number).c_str());
}

namespace {

// "00 0f 0e": the bytes as the settings file writes values.
std::string hex_list(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += format_text(text.empty() ? "%02x" : " %02x", byte);
  }
  return text;
}

std::string warning_text(const SettingsWarning& warning) {
  const std::string token = printable(warning.token);
  const std::string stored = hex_list(warning.stored);
  const char* comment = "a comment must start its line: ";
  const char* lone_cr =
      "a carriage return without a line feed ends no line: what follows it, up to "
      "the next line feed or the end of the file, ";
  const char* line_ends = " (save the file with LF or CR LF line ends)";
  switch (warning.kind) {
    case SettingsWarningKind::not_a_number:
      return "\"" + token + "\" is not a hex number; " + stored + " is stored";
    case SettingsWarningKind::partly_a_number:
      return "\"" + token + "\" is not a hex number; " + stored +
             " is stored (from its leading \"" +
             printable(warning.token.substr(0, warning.read_length)) + "\")";
    case SettingsWarningKind::above_ff:
      return token + " is above ff; its low byte " + stored + " is stored";
    case SettingsWarningKind::below_zero:
      return token + " is below 0; its low byte " + stored + " is stored";
    case SettingsWarningKind::beyond_32_bits:
      return token + " is beyond the signed 32-bit range, so it reads as " +
             (warning.token.find('-') == std::string::npos ? "7fffffff" : "-80000000") + "; " +
             stored + " is stored";
    case SettingsWarningKind::comment_read_as_values:
      return comment + std::string("the words from \"") + token +
             "\" on are read as values, storing " + stored;
    case SettingsWarningKind::comment_as_color_value:
      return comment + std::string("\"") + token + "\" is read as the colour code's value; " +
             stored + " is stored";
    case SettingsWarningKind::comment_ignored:
      return comment + std::string("the words from \"") + token +
             "\" on are ignored only because a colour code takes one value";
    case SettingsWarningKind::words_after_color_value:
      return "a colour code takes one value: the words from \"" + token + "\" on are ignored";
    case SettingsWarningKind::carriage_return:
      return lone_cr + std::string("is read as more of this line") + line_ends;
    case SettingsWarningKind::carriage_return_in_comment:
      return lone_cr + std::string("is part of this comment and unused") + line_ends;
  }
  return "";
}

}  // namespace

std::string explain_settings_warning(const SettingsWarning& warning, const std::string& path) {
  return format_text("%s:%u: warning: %s", printable(path).c_str(),
                     static_cast<unsigned>(warning.line_number), warning_text(warning).c_str());
}

std::string settings_warnings_left_out(const SettingsWarnings& warnings, const std::string& path) {
  const std::size_t left_out = warnings.count - warnings.kept.size();
  if (left_out == 0) {
    return "";
  }
  return format_text("%s: warning: %u more %s not shown", printable(path).c_str(),
                     static_cast<unsigned>(left_out),
                     left_out == 1 ? "warning is" : "warnings are");
}

}  // namespace murve
