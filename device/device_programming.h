#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/dialogue.h"
#include "settings/color_image.h"

namespace murve {

enum class IdentifyResult {
  identified,   // the reply to h names "MURVE"
  not_murve,    // something replied to h, but not with "MURVE"
  late_reply,   // what came for h was the wake's answer, later than k_reply_timeout_ms
  no_reply,     // nothing replied to h within k_reply_timeout_ms
  hung_up,      // the device hung up before it replied to h
  send_failed,  // the wake or h could not be sent
};

struct Identification {
  IdentifyResult result = IdentifyResult::no_reply;
  SendOutcome send;  // send_failed: why
  // not_murve: how many bytes came before the NUL byte that ended the answer's text, if one did
  std::optional<std::size_t> nul_after = {};
};

// Drops what the port holds from before, wakes the console and asks for its banner; the reply
// to h is left as the dialogue's reply.
Identification identify_device(Dialogue& dialogue);

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
  SendOutcome send;  // send_failed: why
};

// Told of each command in turn, as soon as it has been sent or has failed.
using WriteObserver = std::function<void(const WriteReport&)>;

// Writes the image in seven "eepromex" commands. A failed command ends its group of commands;
// the next group is still sent.
void write_color_image(Dialogue& dialogue, const ColorImage& image, const WriteObserver& observer);

// Writes the signature aa 55 at 0x080; how its send went.
SendOutcome write_signature(Dialogue& dialogue, const WriteObserver& observer);

// The seven write commands and the signature command, line feeds included, as a run sends them
// and in its order: what -n shows without a device.
std::vector<std::string> programming_commands(const ColorImage& image);

// The bytes as two lowercase hex digits each, joined by single spaces.
std::string hex_byte_list(std::span<const std::uint8_t> bytes);

}  // namespace murve
