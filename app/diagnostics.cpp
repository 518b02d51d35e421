#include "app/diagnostics.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/memory_map.h"
#include "settings/text_format.h"

#ifndef _WIN32
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace murve {
namespace {

// Bytes other than printable ASCII as \r, \xNN and the like, so that a message stays one line.
std::string printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte > 0x7e) {
      shown += format_text("\\x%02x", byte);
    } else {
      shown += c;
    }
  }
  return shown;
}

// The settings file is the C runtime's: its errors are errno values on every platform, which
// Windows' system messages would word as other errors.
std::string settings_error_text(int error_number) {
  return std::strerror(error_number);
}

std::string describe_character(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x21 && byte <= 0x7e ? format_text("'%c'", c) : format_text("byte 0x%02x", byte);
}

std::string range_of(const WriteCommand& write) {
  return format_text("0x%03x-0x%03x", write.address,
                     write.address + static_cast<unsigned>(write.byte_count) - 1);
}

std::string baud_rate_hint(const PortLabel& port) {
#ifdef _WIN32
  static_cast<void>(port);
  return "its baud rate (-baud N, or the port's properties in Device Manager)";
#else
  return "its baud rate (-baud N; stty -F " + port.address.path + " shows the line's)";
#endif
}

// The hint for a COM number whose default path is most likely not the device.
std::string default_path_hint(const PortLabel& port) {
#ifdef _WIN32
  static_cast<void>(port);
  return "";
#else
  const PortAddress& address = port.address;
  if (address.origin != PortOrigin::default_for_number) {
    return "";
  }
  return format_text(
      "%s is only the default path of COM%d: name the device with -port PATH or %s=PATH "
      "(murvecolor -list shows the serial ports)",
      address.path.c_str(), address.com_number, address.variable.c_str());
#endif
}

std::string supported_rates_text() {
  std::string text;
  for (const unsigned rate : supported_baud_rates()) {
    text += (text.empty() ? "" : ", ") + std::to_string(rate);
  }
  return text;
}

// Why a command did not go out.
std::string explain_send(const SendOutcome& send, const PortLabel& port) {
  if (!send.stalled) {
    return send.error.text;
  }
  std::string text = format_text("the port took no byte for %d s", k_send_stall_timeout_ms / 1000);
  if (!port.flow_control) {
    return text + " (has the device stopped reading?)";
  }
#ifdef _WIN32
  return text +
         ": hardware flow control is on and the device is not ready (CTS low); without RTS/CTS "
         "wired, set Flow control to None in the port's properties in Device Manager";
#else
  return text +
         ": hardware flow control is on and the device is not ready (CTS low); without RTS/CTS "
         "wired, turn it off with stty -F " +
         port.address.path + " -crtscts";
#endif
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

std::string explain_open_failure(const PortOpening& opening, const PortLabel& port) {
  const PortAddress& address = port.address;
  std::string text = "cannot open " + port.shown + ": " + opening.error.text;
  switch (opening.failure) {
    case OpenFailure::no_such_device:
#ifdef _WIN32
      text +=
          " (this computer has no such COM port: murvecolor -list shows the ones it has, and "
          "Device Manager lists them under \"Ports (COM & LPT)\")";
#else
      if (address.origin == PortOrigin::default_for_number) {
        text += " (" + address.variable + " is not set, so the default " + address.path +
                " was tried: name the device with -port PATH or " + address.variable +
                "=PATH, such as /dev/ttyUSB0; murvecolor -list shows the serial ports)";
      } else if (address.origin == PortOrigin::variable) {
        text += " (the path in " + address.variable +
                "; murvecolor -list shows the serial ports plugged in)";
      } else {
        text += " (murvecolor -list shows the serial ports plugged in)";
      }
#endif
      break;
    case OpenFailure::no_hardware:
      if (address.origin == PortOrigin::default_for_number) {
        text += " (no serial hardware is behind " + address.path + ", the default path of " +
                format_text("COM%d", address.com_number) + ": name the device with -port PATH or " +
                address.variable + "=PATH; murvecolor -list shows the serial ports)";
      } else {
        text += " (no serial hardware answers behind it)";
      }
      break;
    case OpenFailure::permission_denied:
      if (!opening.access.group.empty()) {
        text += " (the port belongs to the group " + opening.access.group +
                ": join it with sudo usermod -aG " + opening.access.group +
                " $USER, then log in again)";
      } else if (!opening.access.owner.empty()) {
        text += " (only its owner " + opening.access.owner +
                " may open it: run as that user, or have the port given to a group such as "
                "dialout)";
      }
      break;
    case OpenFailure::in_use:
#ifdef _WIN32
      text += " (in use by another program: close it, a terminal program say, and run again)";
#else
      text += " (in use by another program: fuser -v " + address.path + " names it)";
#endif
      break;
    case OpenFailure::not_a_serial_port:
      text += " (not a serial port)";
      break;
    case OpenFailure::baud_refused:
      text += " (the port does not run at the rate -baud asks for)";
      break;
    case OpenFailure::other:
    case OpenFailure::none:
      break;
  }
  return text;
}

std::string explain_identification(const Identification& identification, const PortLabel& port) {
  switch (identification.result) {
    case IdentifyResult::send_failed:
      return "write error on " + port.shown + ": " + explain_send(identification.send, port);
    case IdentifyResult::no_answer: {
      std::string text = "no answer from the device on " + port.shown +
                         " within 1 s: check that it is on and connected to this port, the "
                         "cable, and " +
                         baud_rate_hint(port);
#ifndef _WIN32
      text += ", and that no other program reads the port (fuser -v " + port.address.path + ")";
#endif
      if (const std::string hint = default_path_hint(port); !hint.empty()) {
        text += "; " + hint;
      }
      return text;
    }
    case IdentifyResult::hung_up:
      return port.shown + " hung up before the device answered (unplugged?)";
    case IdentifyResult::not_murve:
      return "the device on " + port.shown +
             " answered, but its answer to h does not name MURVE: it is not a MURVE Pro, or " +
             baud_rate_hint(port) + " is wrong";
    case IdentifyResult::identified:
      break;
  }
  return "";
}

std::string explain_write_failure(const WriteReport& report, const PortLabel& port) {
  const std::string why = "write error on " + port.shown + ": " + explain_send(report.send, port);
  if (report.write.address == k_signature_address) {
    return why + " (the signature command); nothing was read back";
  }
  return why + " (the command for " + range_of(report.write) +
         "; the rest of its group is skipped)";
}

std::string explain_block(const BlockOutcome& block, unsigned address, const PortLabel& port) {
  const std::string name = format_text("block 0x%03x", address);
  const DecodedReply& decoded = block.decoded;
  switch (block.status) {
    case BlockStatus::send_failed:
      return "write error on " + port.shown + ": " + explain_send(block.send, port) +
             " (the read command for " + name + "); it and the blocks after it were not read";
    case BlockStatus::no_answer: {
      if (block.hung_up) {
        return name + " not read: " + port.shown + " hung up (unplugged?)";
      }
      std::string text = name + " not read: no answer within 1 s";
      if (block.late_answer) {
        text += "; an answer that came later was dropped";
      }
      if (block.device_stopped) {
        text += "; the device has stopped answering, so the blocks after it were not asked for";
      }
      return text;
    }
    case BlockStatus::no_marker:
      if (block.marker_ends_in_cr) {
        return name +
               " not read: its answer's \"EEPROM DATA\" line ends in a carriage return and a "
               "line feed, not in a line feed alone";
      }
      return name + " not read: its answer has no \"EEPROM DATA\" line";
    case BlockStatus::wrong_pairs:
      if (decoded.pair_count > k_read_block_size) {
        return format_text("%s not read: its answer holds %u pairs, more than %u", name.c_str(),
                           static_cast<unsigned>(decoded.pair_count),
                           static_cast<unsigned>(k_read_block_size));
      }
      if (decoded.stop == DecodeStop::unexpected_character) {
        return format_text("%s not read: its answer stops at %s after %u of %u pairs", name.c_str(),
                           describe_character(decoded.stop_character).c_str(),
                           static_cast<unsigned>(decoded.pair_count),
                           static_cast<unsigned>(k_read_block_size));
      }
      return format_text("%s not read: its answer holds only %u of %u pairs", name.c_str(),
                         static_cast<unsigned>(decoded.pair_count),
                         static_cast<unsigned>(k_read_block_size));
    case BlockStatus::out_of_step:
      return name +
             " not read: another answer came with or after it, so the device's answers are "
             "out of step with the commands (does it answer twice?)";
    case BlockStatus::accepted:
    case BlockStatus::not_asked:
      break;
  }
  return "";
}

std::string interrupted_writes_notice(const char* program, const PortLabel& port,
                                      const std::string& rerun) {
  return format_text(
      "%s: stopped during the writes: the device on %s now holds part of the new settings; run "
      "the same command again, or write a backup back with %s %s -config BACKUP-FILE\n",
      program, port.shown.c_str(), program, rerun.c_str());
}

void report_problem(const char* program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program, text.c_str());
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
