#include "app/diagnostics.h"

#include <cstdio>

#include "settings/memory_map.h"
#include "settings/text_format.h"

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

std::string describe_character(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x21 && byte <= 0x7e ? format_text("'%c'", c) : format_text("byte 0x%02x", byte);
}

std::string range_of(const WriteCommand& write) {
  return format_text("0x%03x-0x%03x", write.address,
                     write.address + static_cast<unsigned>(write.byte_count) - 1);
}

std::string baud_rate_hint(const std::string& path) {
#ifdef _WIN32
  static_cast<void>(path);
  return "its baud rate (the port's properties in Device Manager)";
#else
  return "its baud rate (stty -F " + path + ")";
#endif
}

}  // namespace

std::string explain_command_line(const CommandLine& command_line) {
  switch (command_line.problem) {
    case CommandLineProblem::unknown_option:
      return command_line.argument.empty() ? "unknown option: an empty argument"
                                           : "unknown option " + printable(command_line.argument);
    case CommandLineProblem::port_missing:
      return "-com needs a port number from 1 to 16";
    case CommandLineProblem::port_out_of_range:
      return "-com needs a port number from 1 to 16, not " + printable(command_line.argument);
    case CommandLineProblem::settings_path_missing:
      return "-config needs a file name";
    case CommandLineProblem::none:
      break;
  }
  return "";
}

std::string explain_settings_failure(const SettingsOutcome& outcome, const std::string& path) {
  switch (outcome.failure) {
    case SettingsFailure::cannot_open:
      return printable(path) +
             ": cannot open the settings file: " + system_error_text(outcome.error_number);
    case SettingsFailure::bad_line:
      return format_text(
          "%s:%u: a line must begin with #, c0 to c63, c2608, c2151 or cspec, "
          "not \"%s\"",
          printable(path).c_str(), static_cast<unsigned>(outcome.line_number),
          printable(outcome.first_token).c_str());
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
                     system_error_text(outcome.error_number).c_str());
}

std::string explain_open_failure(const PortOpening& opening, const std::string& port) {
  std::string text = "cannot open " + port + ": " + opening.error.text;
  switch (opening.failure) {
    case OpenFailure::no_such_device:
#ifdef _WIN32
      text +=
          " (this computer has no such COM port: Device Manager lists the ports under "
          "\"Ports (COM & LPT)\")";
#else
      if (!opening.path_from_variable) {
        text += " (" + opening.port_variable + " is not set, so the default " + opening.path +
                " was tried: set it to the device, such as " + opening.port_variable +
                "=/dev/ttyUSB0)";
      } else {
        text += " (the path in " + opening.port_variable +
                "; ls -l /dev/serial/by-id/ lists the adapters plugged in)";
      }
#endif
      break;
    case OpenFailure::permission_denied:
      if (!opening.device_group.empty()) {
        text += " (the port belongs to the group " + opening.device_group +
                ": join it with sudo usermod -aG " + opening.device_group +
                " $USER, then log in again)";
      } else {
        text +=
            " (serial ports belong to the group dialout on Debian: join it with sudo "
            "usermod -aG dialout $USER, then log in again)";
      }
      break;
    case OpenFailure::in_use:
#ifdef _WIN32
      text += " (in use by another program: close it, a terminal program say, and run again)";
#else
      text += " (in use by another program: fuser -v " + opening.path + " names it)";
#endif
      break;
    case OpenFailure::not_a_serial_port:
      text += " (not a serial port)";
      break;
    case OpenFailure::other:
    case OpenFailure::none:
      break;
  }
  return text;
}

std::string explain_identification(const Identification& identification, const std::string& port,
                                   const std::string& path) {
  switch (identification.result) {
    case IdentifyResult::send_failed:
      return "write error on " + port + ": " + identification.error.text +
             "; nothing was written to the device";
    case IdentifyResult::no_answer:
      return "no answer from the device on " + port +
             " within 1 s: check that it is on and connected to this port, the cable, and " +
             baud_rate_hint(path);
    case IdentifyResult::hung_up:
      return port + " hung up before the device answered (unplugged?)";
    case IdentifyResult::not_murve:
      return "the device on " + port +
             " answered, but its answer to h does not name MURVE: it is not a MURVE Pro, or " +
             baud_rate_hint(path) + " is wrong; nothing was written to it";
    case IdentifyResult::identified:
      break;
  }
  return "";
}

std::string explain_write_failure(const WriteReport& report, const std::string& port) {
  if (report.write.address == k_signature_address) {
    return "write error on " + port + ": " + report.error.text +
           " (the signature command); nothing was read back";
  }
  return "write error on " + port + ": " + report.error.text + " (the command for " +
         range_of(report.write) + "; the rest of its group is skipped)";
}

std::string explain_block(const BlockOutcome& block, unsigned address, const std::string& port) {
  const std::string name = format_text("block 0x%03x", address);
  const DecodedReply& decoded = block.decoded;
  switch (block.status) {
    case BlockStatus::send_failed:
      return "write error on " + port + ": " + block.error.text + " (the read command for " + name +
             "); it and the blocks after it were not read";
    case BlockStatus::no_answer: {
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
             " not read: more data came with or after its answer, so the device's answers are "
             "out of step with the commands (does it answer twice?)";
    case BlockStatus::accepted:
    case BlockStatus::not_asked:
      break;
  }
  return "";
}

void report_problem(const char* program, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", program, text.c_str());
}

}  // namespace murve
