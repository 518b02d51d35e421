#include "device/device_programming.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace murve {
namespace {

constexpr std::size_t k_command_capacity = 512;

constexpr char k_wake_bytes[] = {'\r'};
constexpr char k_identify_bytes[] = {'h', '\r'};
constexpr const char* k_device_name = "MURVE";
// The console takes an address of any number of hex digits. The signature has always been sent
// as "eepromex 80 aa 55", writes with three digits and reads with two or more; people compare
// the echoed commands with their notes, so each keeps the form it has.
constexpr const char* k_write_format = "eepromex %03x %s\n";
constexpr const char* k_signature_format = "eepromex %02x %s\n";

using CommandBuffer = std::array<char, k_command_capacity>;

// The reply to h is complete once the line that names the device has ended: a banner still
// arriving would otherwise be judged, and printed, by its first few bytes.
bool lacks_device_line(const char* reply) {
  const char* name = std::strstr(reply, k_device_name);
  return name == nullptr || std::strpbrk(name, "\r\n") == nullptr;
}

// The wake's answer come too late and taken for h's: the prompt alone, or, when nothing came
// for the wake even a second after it, any answer that ends in the prompt.
bool is_late_wake_answer(std::string_view reply, bool wake_answered) {
  const std::string_view rest =
      reply.substr(std::min(reply.find_first_not_of("\r\n"), reply.size()));
  return rest == k_console_prompt || (!wake_answered && reply.ends_with(k_console_prompt));
}

// One step of the lock-step dialogue: a command, its fixed sleep, and one read of its reply.
SendOutcome send_then_read(Dialogue& dialogue, const void* bytes, std::size_t length,
                           int sleep_ms) {
  SendOutcome sent = dialogue.send_bytes(bytes, length);
  if (!sent.failed()) {
    dialogue.sleep_ms(sleep_ms);
    dialogue.read_response();
  }
  return sent;
}

// "eepromex ADDR BYTE...\n" for `write`'s bytes of the image.
std::string_view format_write_command(CommandBuffer& command, const ColorImage& image,
                                      const WriteCommand& write) {
  const std::string hex_list = hex_byte_list(image_bytes(image, write.address, write.byte_count));
  const int length = std::snprintf(command.data(), command.size(), k_write_format, write.address,
                                   hex_list.c_str());
  return {command.data(), static_cast<std::size_t>(length)};
}

std::string_view format_signature_command(CommandBuffer& command) {
  const int length = std::snprintf(command.data(), command.size(), k_signature_format,
                                   k_signature_address, hex_byte_list(k_signature_bytes).c_str());
  return {command.data(), static_cast<std::size_t>(length)};
}

template <std::size_t N>
void write_group(Dialogue& dialogue, const ColorImage& image,
                 const std::array<WriteCommand, N>& group, const WriteObserver& observer) {
  CommandBuffer command;
  bool group_failed = false;
  for (const WriteCommand& write : group) {
    const std::string_view text = format_write_command(command, image, write);
    if (group_failed) {
      observer({text, write, CommandStatus::skipped, {}});
      continue;
    }
    SendOutcome sent = send_then_read(dialogue, text.data(), text.size(), k_write_sleep_ms);
    group_failed = sent.failed();
    observer({text, write, group_failed ? CommandStatus::send_failed : CommandStatus::sent,
              std::move(sent)});
  }
}

}  // namespace

std::string hex_byte_list(std::span<const std::uint8_t> bytes) {
  std::string list;
  list.reserve(bytes.size() * 3);
  std::array<char, 4> formatted{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(formatted.data(), formatted.size(), i == 0 ? "%02x" : " %02x", bytes[i]);
    list += formatted.data();
  }
  return list;
}

Identification identify_device(Dialogue& dialogue) {
  Identification identification;
  // Late replies to an interrupted run would otherwise be taken for this run's.
  dialogue.discard_stale_input();
  // The device replies to a bare carriage return with its prompt: only whether it came counts. On a
  // slow line it is still arriving after the sleep; all of it is dropped, or its rest would be
  // taken for the beginning of the banner.
  identification.send = dialogue.send_bytes(k_wake_bytes, sizeof k_wake_bytes);
  bool wake_answered = false;
  if (!identification.send.failed()) {
    wake_answered = dialogue.drop_reply(k_identify_sleep_ms);
    identification.send =
        send_then_read(dialogue, k_identify_bytes, sizeof k_identify_bytes, k_identify_sleep_ms);
  }
  if (identification.send.failed()) {
    identification.result = IdentifyResult::send_failed;
    return identification;
  }
  dialogue.complete_reply(lacks_device_line);
  if (std::strstr(dialogue.reply(), k_device_name) != nullptr) {
    // The rest of the banner, which would otherwise be taken for the replies that follow it.
    dialogue.read_to_prompt();
    identification.result = IdentifyResult::identified;
  } else if (is_late_wake_answer(dialogue.reply(), wake_answered)) {
    identification.result = IdentifyResult::late_reply;
  } else if (dialogue.reply_size() > 0) {
    identification.result = IdentifyResult::not_murve;
    const std::size_t text_size = std::strlen(dialogue.reply());
    if (text_size < dialogue.reply_size()) {
      identification.nul_after = text_size;
    }
  } else {
    identification.result = dialogue.hung_up() ? IdentifyResult::hung_up : IdentifyResult::no_reply;
  }
  return identification;
}

void write_color_image(Dialogue& dialogue, const ColorImage& image, const WriteObserver& observer) {
  write_group(dialogue, image, k_color_code_writes, observer);
  write_group(dialogue, image, k_table_writes, observer);
}

SendOutcome write_signature(Dialogue& dialogue, const WriteObserver& observer) {
  CommandBuffer command;
  const std::string_view text = format_signature_command(command);
  SendOutcome sent = send_then_read(dialogue, text.data(), text.size(), k_write_sleep_ms);
  observer({text,
            {k_signature_address, k_signature_bytes.size()},
            sent.failed() ? CommandStatus::send_failed : CommandStatus::sent,
            sent});
  return sent;
}

std::vector<std::string> programming_commands(const ColorImage& image) {
  std::vector<std::string> commands;
  CommandBuffer command;
  for (const auto& group : {std::span<const WriteCommand>(k_color_code_writes),
                            std::span<const WriteCommand>(k_table_writes)}) {
    for (const WriteCommand& write : group) {
      commands.emplace_back(format_write_command(command, image, write));
    }
  }
  commands.emplace_back(format_signature_command(command));
  return commands;
}

}  // namespace murve
