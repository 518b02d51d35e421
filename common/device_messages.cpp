#include "common/device_messages.h"

#include "settings/memory_map.h"
#include "settings/text_format.h"

namespace murve {
namespace {

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

}  // namespace

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

}  // namespace murve
