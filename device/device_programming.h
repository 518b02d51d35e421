#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "device/serial_link.h"
#include "settings/color_image.h"

namespace murve {

enum class IdentifyResult {
  identified,   // the answer to h names "MURVE"
  not_murve,    // something answered h, but not with "MURVE"
  no_answer,    // nothing answered h within k_reply_timeout_ms
  hung_up,      // the device hung up before it answered h
  send_failed,  // the wake or h could not be sent
};

struct Identification {
  IdentifyResult result = IdentifyResult::no_answer;
  SystemError error;  // send_failed: why
};

// Wakes the console and asks for its banner; the answer to h is left as the link's reply.
Identification identify_device(SerialLink& link);

enum class CommandStatus {
  sent,
  send_failed,  // the rest of its group is skipped
  skipped,      // an earlier command of its group failed
};

// One write command of a run, as it went.
struct WriteReport {
  std::string_view command;  // the text sent, line feed included
  WriteCommand write;        // the addresses it writes
  CommandStatus status = CommandStatus::sent;
  SystemError error;  // send_failed: why
};

// Told of each command in turn, as soon as it has been sent or has failed.
using WriteObserver = std::function<void(const WriteReport&)>;

// Writes the image in seven "eepromex" commands. A failed command ends its group of commands;
// the next group is still sent.
void write_color_image(SerialLink& link, const ColorImage& image, const WriteObserver& observer);

// Writes the signature aa 55 at 0x080; what the system said when it could not be sent.
SystemError write_signature(SerialLink& link, const WriteObserver& observer);

// The bytes as two lowercase hex digits each, joined by single spaces.
std::string hex_byte_list(std::span<const std::uint8_t> bytes);

}  // namespace murve
