#include "app/verification.h"

#include <array>
#include <cstdio>

#include <algorithm>

#include "common/report.h"

#include "common/message.h"
#include "settings/text_format.h"

namespace murve {
namespace {

constexpr std::size_t k_listing_bytes_per_line = 16;
constexpr std::size_t k_listing_dash_after = 7;

std::uint8_t written_byte(const ColorImage& image, unsigned address) {
  return address < k_color_image_address ? k_signature_bytes[address - k_signature_address]
                                         : image.at(address);
}

std::string hex_byte(std::uint8_t value) {
  return format_text("%02x", value);
}

}  // namespace

std::string setting_name(unsigned address) {
  const SettingByte at = setting_byte_at(address);
  const std::initializer_list<MessagePart> parts = {{"entry", std::to_string(at.entry)},
                                                    {"byte", std::to_string(at.byte)}};
  switch (at.kind) {
    case SettingKind::signature:
      return message("signature, byte {byte}", parts);
    case SettingKind::color_code:
      return message("colour code {entry}", parts);
    case SettingKind::table2608:
      return at.fill ? message("c2608 entry {entry}, fill byte", parts)
                     : message("c2608 entry {entry}, byte {byte}", parts);
    case SettingKind::table2151:
      return at.fill ? message("c2151 entry {entry}, fill byte", parts)
                     : message("c2151 entry {entry}, byte {byte}", parts);
    case SettingKind::spec_table:
      return message("cspec entry {entry}, byte {byte}", parts);
    case SettingKind::none:
      break;
  }
  return "";
}

void print_verify_listing(const ReadbackImage& image) {
  print_output("Verify..\n");
  // One line at a time, so that a line-buffered output never holds half a line.
  std::array<char, 80> line{};
  for (unsigned address = k_read_first_address; address < k_read_end_address;
       address += k_listing_bytes_per_line) {
    std::size_t at =
        static_cast<std::size_t>(std::snprintf(line.data(), line.size(), "%04x: ", address));
    std::array<char, k_listing_bytes_per_line + 1> text_column{};
    for (std::size_t i = 0; i < k_listing_bytes_per_line; ++i) {
      const std::uint8_t byte = image[address + i];
      at += static_cast<std::size_t>(std::snprintf(line.data() + at, line.size() - at, "%02x%c",
                                                   byte, i == k_listing_dash_after ? '-' : ' '));
      text_column[i] = byte >= 0x20 && byte <= 0x7e ? static_cast<char>(byte) : '.';
    }
    print_output("%s%s\n", line.data(), text_column.data());
  }
}

Verdict verify_readback(const ColorImage& written, const ReadbackImage& read,
                        const ReadBackOutcome& outcome, std::span<const WriteCommand> not_written,
                        VerdictWording wording, bool settings_read_whole) {
  Verdict verdict;
  const bool wrote = wording == VerdictWording::as_written;
  std::vector<std::string> differences;
  std::vector<std::string> unread;
  for (std::size_t block = 0; block < outcome.blocks.size(); ++block) {
    const unsigned first = read_block_address(block);
    if (outcome.blocks[block].status == BlockStatus::accepted) {
      for (unsigned address = first;
           address < first + k_read_block_size && address < k_verified_end_address; ++address) {
        const std::uint8_t expected = written_byte(written, address);
        if (read[address] != expected) {
          const std::initializer_list<MessagePart> parts = {{"address", hex_address(address)},
                                                            {"setting", setting_name(address)},
                                                            {"expected", hex_byte(expected)},
                                                            {"read", hex_byte(read[address])}};
          differences.push_back(
              wrote ? message("{address}: {setting}: wrote {expected}, read {read}", parts)
                    : message("{address}: {setting}: the settings file gives {expected}, the "
                              "device holds {read}",
                              parts));
        }
      }
    } else {
      unread.push_back(
          message("{first}-{last}: not read back",
                  {{"first", hex_address(first)},
                   {"last", hex_address(first + static_cast<unsigned>(k_read_block_size) - 1)}}));
    }
  }
  const unsigned compared = k_verified_end_address - k_verified_first_address;
  const std::initializer_list<MessagePart> range = {
      {"count", std::to_string(compared)},
      {"first", hex_address(k_verified_first_address)},
      {"last", hex_address(k_verified_end_address - 1)}};
  const bool as_expected = differences.empty() && unread.empty() && not_written.empty();
  verdict.verified = as_expected && settings_read_whole;
  if (as_expected && !settings_read_whole) {
    verdict.lines.push_back(message("no verdict: the settings file was not read whole"));
    return verdict;
  }
  if (verdict.verified) {
    verdict.lines.push_back(
        wrote ? message("verified: {count} bytes at {first}-{last} read back as written", range)
              : message("verified: {count} bytes at {first}-{last} hold the signature and the "
                        "settings file",
                        range));
    return verdict;
  }
  // The summary lists what failed, each a sentence of its own.
  std::vector<std::string> failures;
  if (!differences.empty()) {
    const std::initializer_list<MessagePart> parts = {{"count", std::to_string(differences.size())},
                                                      {"compared", std::to_string(compared)}};
    failures.push_back(differences.size() == 1
                           ? message("1 of {compared} bytes differs", parts)
                           : message("{count} of {compared} bytes differ", parts));
  }
  if (!unread.empty()) {
    failures.push_back(unread.size() == 1 ? message("1 block not read back")
                                          : message("{count} blocks not read back",
                                                    {{"count", std::to_string(unread.size())}}));
  }
  if (!not_written.empty()) {
    failures.push_back(not_written.size() == 1
                           ? message("1 write command not sent")
                           : message("{count} write commands not sent",
                                     {{"count", std::to_string(not_written.size())}}));
  }
  if (!settings_read_whole) {
    failures.push_back(message("the settings file not read whole"));
  }
  const std::initializer_list<MessagePart> summary = {{"failures", join_sentences(failures)}};
  if (wrote) {
    verdict.lines.push_back(message("verify failed: {failures}", summary));
  } else if (!differences.empty() && settings_read_whole) {
    // -check wrote nothing: it says how the device stands against the settings file, which it
    // can't when the lines not read may be what the device holds.
    verdict.lines.push_back(
        message("the device does not match the settings file: {failures}", summary));
  } else {
    verdict.lines.push_back(
        message("cannot tell whether the device matches the settings file: {failures}", summary));
  }
  for (std::size_t i = 0; i < differences.size() && i < k_listed_differences; ++i) {
    verdict.lines.push_back(differences[i]);
  }
  if (const std::size_t more =
          differences.size() - std::min(differences.size(), k_listed_differences);
      more > 0) {
    verdict.lines.push_back(more == 1 ? message("... and 1 more differing byte")
                                      : message("... and {count} more differing bytes",
                                                {{"count", std::to_string(more)}}));
  }
  verdict.lines.insert(verdict.lines.end(), unread.begin(), unread.end());
  for (const WriteCommand& write : not_written) {
    verdict.lines.push_back(message(
        "{first}-{last}: not written, its command was not sent",
        {{"first", hex_address(write.address)},
         {"last", hex_address(write.address + static_cast<unsigned>(write.byte_count) - 1)}}));
  }
  return verdict;
}

}  // namespace murve
