#include "common/device_messages.h"

#include "common/message.h"
#include "common/report.h"
#include "settings/memory_map.h"
#include "settings/text_format.h"

namespace murve {
namespace {

std::string range_of(const WriteCommand& write) {
  return hex_address(write.address) + "-" +
         hex_address(write.address + static_cast<unsigned>(write.byte_count) - 1);
}

// Why a command did not go out: the system's words, or what a stalled line means.
std::string send_reason(const SendOutcome& send, const PortLabel& port) {
  if (!send.stalled) {
    return sentence_of(send.error.text);
  }
  if (!port.flow_control) {
    return message("the port took no byte for 1 s (has the device stopped reading?)");
  }
#ifdef _WIN32
  return message(
      "the port took no byte for 1 s: hardware flow control is on and the device is not ready "
      "(CTS low); without RTS/CTS wired, set Flow control to None in the port's properties in "
      "Device Manager");
#else
  return message(
      "the port took no byte for 1 s: hardware flow control is on and the device is not ready "
      "(CTS low); without RTS/CTS wired, turn it off with stty -F {path} -crtscts",
      {{"path", printable(port.address.path)}});
#endif
}
static_assert(k_send_stall_timeout_ms == 1000, "the messages say 1 s");

std::string no_answer_text(const PortLabel& port) {
#ifdef _WIN32
  return message(
      "no answer from the device on {port} within 1 s: check that it is on and connected to "
      "this port, the cable, and its baud rate (-baud N, or the port's properties in Device "
      "Manager)",
      {{"port", printable(port.address.path)}});
#else
  const PortAddress& address = port.address;
  if (address.origin == PortOrigin::default_for_number) {
    return message(
        "no answer from the device on {port} within 1 s: check that it is on and connected to "
        "this port, the cable, and its baud rate (-baud N; stty -F {path} shows the line's), and "
        "that no other program reads the port (fuser -v {path}); {path} is only the default path "
        "of COM{number}: name the device with -port PATH or {variable}=PATH (murvecolor -list "
        "shows the serial ports)",
        {{"port", printable(port.address.path)},
         {"path", printable(address.path)},
         {"number", std::to_string(address.com_number)},
         {"variable", address.variable}});
  }
  return message(
      "no answer from the device on {port} within 1 s: check that it is on and connected to this "
      "port, the cable, and its baud rate (-baud N; stty -F {path} shows the line's), and that no "
      "other program reads the port (fuser -v {path})",
      {{"port", printable(port.address.path)}, {"path", printable(address.path)}});
#endif
}

std::string no_such_device_text(const std::string& reason, const PortLabel& port) {
#ifdef _WIN32
  return message(
      "cannot open {port}: {reason} (this computer has no such COM port: murvecolor -list shows "
      "the ones it has, "
      "and Device Manager lists them under \"Ports (COM & LPT)\")",
      {{"port", printable(port.address.path)}, {"reason", reason}});
#else
  const PortAddress& address = port.address;
  switch (address.origin) {
    case PortOrigin::default_for_number:
      return message(
          "cannot open {port}: {reason} ({variable} is not set, so the default {path} was tried: "
          "name the device "
          "with -port PATH or {variable}=PATH, such as /dev/ttyUSB0; murvecolor -list shows the "
          "serial ports)",
          {{"port", printable(port.address.path)},
           {"reason", reason},
           {"variable", address.variable},
           {"path", printable(address.path)}});
    case PortOrigin::variable:
      return message(
          "cannot open {port}: {reason} (the path in {variable}; murvecolor -list shows the serial "
          "ports plugged "
          "in)",
          {{"port", printable(port.address.path)},
           {"reason", reason},
           {"variable", address.variable}});
    case PortOrigin::named:
      break;
  }
  return message(
      "cannot open {port}: {reason} (murvecolor -list shows the serial ports plugged in)",
      {{"port", printable(port.address.path)}, {"reason", reason}});
#endif
}

}  // namespace

std::string explain_open_failure(const PortOpening& opening, const PortLabel& port) {
  const PortAddress& address = port.address;
  const std::string reason = sentence_of(opening.error.text);
  switch (opening.failure) {
    case OpenFailure::no_such_device:
      return no_such_device_text(reason, port);
    case OpenFailure::no_hardware:
      if (address.origin == PortOrigin::default_for_number) {
        return message(
            "cannot open {port}: {reason} (no serial hardware is behind {path}, the default path "
            "of COM{number}: "
            "name the device with -port PATH or {variable}=PATH; murvecolor -list shows the "
            "serial ports)",
            {{"port", printable(port.address.path)},
             {"reason", reason},
             {"path", printable(address.path)},
             {"number", std::to_string(address.com_number)},
             {"variable", address.variable}});
      }
      return message("cannot open {port}: {reason} (no serial hardware answers behind it)",
                     {{"port", printable(port.address.path)}, {"reason", reason}});
    case OpenFailure::permission_denied:
      if (!opening.access.group.empty()) {
        return message(
            "cannot open {port}: {reason} (the port belongs to the group {group}: join it with "
            "sudo usermod -aG "
            "{group} $USER, then log in again)",
            {{"port", printable(port.address.path)},
             {"reason", reason},
             {"group", opening.access.group}});
      }
      if (!opening.access.owner.empty()) {
        return message(
            "cannot open {port}: {reason} (only its owner {owner} may open it: run as that user, "
            "or have the "
            "port given to a group such as dialout)",
            {{"port", printable(port.address.path)},
             {"reason", reason},
             {"owner", opening.access.owner}});
      }
      return message("cannot open {port}: {reason}",
                     {{"port", printable(port.address.path)}, {"reason", reason}});
    case OpenFailure::in_use:
#ifdef _WIN32
      return message(
          "cannot open {port}: {reason} (in use by another program: close it, a terminal program "
          "say, and run "
          "again)",
          {{"port", printable(port.address.path)}, {"reason", reason}});
#else
      return message(
          "cannot open {port}: {reason} (in use by another program: fuser -v {path} names it)",
          {{"port", printable(port.address.path)},
           {"reason", reason},
           {"path", printable(address.path)}});
#endif
    case OpenFailure::not_a_serial_port:
      return message("cannot open {port}: {reason} (not a serial port)",
                     {{"port", printable(port.address.path)}, {"reason", reason}});
    case OpenFailure::baud_refused:
      return message(
          "cannot open {port}: {reason} (the port does not run at the rate -baud asks for)",
          {{"port", printable(port.address.path)}, {"reason", reason}});
    case OpenFailure::other:
    case OpenFailure::none:
      break;
  }
  return message("cannot open {port}: {reason}",
                 {{"port", printable(port.address.path)}, {"reason", reason}});
}

std::string explain_identification(const Identification& identification, const PortLabel& port) {
  switch (identification.result) {
    case IdentifyResult::send_failed:
      return message("write error on {port}: {reason}",
                     {{"port", printable(port.address.path)},
                      {"reason", send_reason(identification.send, port)}});
    case IdentifyResult::no_reply:
      return no_answer_text(port);
    case IdentifyResult::hung_up:
      return message("{port} hung up before the device answered (unplugged?)",
                     {{"port", printable(port.address.path)}});
    case IdentifyResult::not_murve:
      if (identification.nul_after == 0) {
        return message(
            "the device on {port} answered, but its answer to h begins with a NUL byte, which "
            "ends it: an answer is read only up to its first NUL byte",
            {{"port", printable(port.address.path)}});
      }
      if (identification.nul_after) {
        return message(
            "the device on {port} answered, but a NUL byte ended its answer to h, and the {count} "
            "bytes before it do not name MURVE: an answer is read only up to its first NUL byte",
            {{"port", printable(port.address.path)},
             {"count", std::to_string(*identification.nul_after)}});
      }
#ifdef _WIN32
      return message(
          "the device on {port} answered, but its answer to h does not name MURVE: it is not a "
          "MURVE Pro, or its baud rate (-baud N, or the port's properties in Device Manager) is "
          "wrong",
          {{"port", printable(port.address.path)}});
#else
      return message(
          "the device on {port} answered, but its answer to h does not name MURVE: it is not a "
          "MURVE Pro, or its baud rate (-baud N; stty -F {path} shows the line's) is wrong",
          {{"port", printable(port.address.path)}, {"path", printable(port.address.path)}});
#endif
    case IdentifyResult::late_reply:
#ifdef _WIN32
      return message(
          "the device on {port} answers later than murvecolor waits (1 s): check that it is not "
          "busy with other work (restart it if it stays slow), and that the line's flow control "
          "(the port's properties in Device Manager) does not hold its answers back",
          {{"port", printable(port.address.path)}});
#else
      return message(
          "the device on {port} answers later than murvecolor waits (1 s): check that it is not "
          "busy with other work (restart it if it stays slow), and that the line's flow control "
          "(stty -F {path} shows it) does not hold its answers back",
          {{"port", printable(port.address.path)}, {"path", printable(port.address.path)}});
#endif
    case IdentifyResult::identified:
      break;
  }
  return "";
}

std::string explain_write_failure(const WriteReport& report, const PortLabel& port) {
  const std::string reason = send_reason(report.send, port);
  if (report.write.address == k_signature_address) {
    return message("write error on {port}: {reason} (the signature command); nothing was read back",
                   {{"port", printable(port.address.path)}, {"reason", reason}});
  }
  return message(
      "write error on {port}: {reason} (the command for {range}; the rest of its group is "
      "skipped)",
      {{"port", printable(port.address.path)},
       {"reason", reason},
       {"range", range_of(report.write)}});
}

std::string explain_block(const BlockOutcome& block, unsigned address, const PortLabel& port) {
  const std::string block_address = hex_address(address);
  const DecodedReply& decoded = block.decoded;
  const std::string pairs = std::to_string(decoded.pair_count);
  const std::string expected = std::to_string(k_read_block_size);
  if (block.hung_up) {
    return message("block {block} not read: {port} hung up (unplugged?)",
                   {{"block", block_address}, {"port", printable(port.address.path)}});
  }
  switch (block.status) {
    case BlockStatus::send_failed:
      return message(
          "write error on {port}: {reason} (the read command for block {block}); it and the "
          "blocks after it were not read",
          {{"port", printable(port.address.path)},
           {"reason", send_reason(block.send, port)},
           {"block", block_address}});
    case BlockStatus::no_reply:
      if (block.late_reply) {
        return message(
            "block {block} not read: no answer within 1 s; an answer that came later was dropped",
            {{"block", block_address}});
      }
      if (block.device_stopped) {
        return message(
            "block {block} not read: no answer within 1 s; the device has stopped answering, so "
            "the blocks after it were not asked for",
            {{"block", block_address}});
      }
      return message("block {block} not read: no answer within 1 s", {{"block", block_address}});
    case BlockStatus::no_marker:
      if (block.marker_ends_in_cr) {
        return message(
            "block {block} not read: its answer's \"EEPROM DATA\" line ends in a carriage return "
            "and a line feed, not in a line feed alone",
            {{"block", block_address}});
      }
      if (block.nul_byte) {
        return message(
            "block {block} not read: a NUL byte ended its answer, and what came before it has no "
            "\"EEPROM DATA\" line",
            {{"block", block_address}});
      }
      return message("block {block} not read: its answer has no \"EEPROM DATA\" line",
                     {{"block", block_address}});
    case BlockStatus::wrong_pairs:
      if (decoded.pair_count > k_read_block_size) {
        return message(
            "block {block} not read: its answer holds {pairs} pairs, more than {expected}",
            {{"block", block_address}, {"pairs", pairs}, {"expected", expected}});
      }
      if (decoded.stop == DecodeStop::unexpected_character) {
        const auto byte = static_cast<unsigned char>(decoded.stop_character);
        if (byte >= 0x21 && byte <= 0x7e) {
          return message(
              "block {block} not read: its answer stops at '{character}' after {pairs} of "
              "{expected} pairs",
              {{"block", block_address},
               {"character", std::string(1, decoded.stop_character)},
               {"pairs", pairs},
               {"expected", expected}});
        }
        return message(
            "block {block} not read: its answer stops at byte {byte} after {pairs} of {expected} "
            "pairs",
            {{"block", block_address},
             {"byte", format_text("0x%02x", byte)},
             {"pairs", pairs},
             {"expected", expected}});
      }
      if (block.nul_byte) {
        return message(
            "block {block} not read: a NUL byte ended its answer after {pairs} of {expected} pairs",
            {{"block", block_address}, {"pairs", pairs}, {"expected", expected}});
      }
      return message("block {block} not read: its answer holds only {pairs} of {expected} pairs",
                     {{"block", block_address}, {"pairs", pairs}, {"expected", expected}});
    case BlockStatus::out_of_step:
      return message(
          "block {block} not read: another answer came with or after it, so the device's answers "
          "are out of step with the commands (does it answer twice?)",
          {{"block", block_address}});
    case BlockStatus::accepted:
    case BlockStatus::not_asked:
      break;
  }
  return "";
}

std::string interrupted_writes_notice(const char* program, const PortLabel& port,
                                      const std::string& rerun) {
  return std::string(program) + ": " +
         message(
             "stopped during the writes: the device on {port} now holds part of the new "
             "settings; run the same command again, or write a backup back with {program} "
             "{option} -config BACKUP-FILE",
             {{"port", printable(port.address.path)},
              {"program", program},
              {"option", printable(rerun)}}) +
         "\n";
}

}  // namespace murve
