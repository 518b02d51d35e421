#include "app/verification.h"

#include <array>
#include <cstdio>

#include "settings/text_format.h"

namespace murve {
namespace {

constexpr std::size_t k_listing_bytes_per_line = 16;
constexpr std::size_t k_listing_dash_after = 7;

std::uint8_t written_byte(const ColorImage& image, unsigned address) {
  return address < k_color_image_address ? k_signature_bytes[address - k_signature_address]
                                         : image.at(address);
}

// "1 block", "2 blocks"
std::string count_of(std::size_t count, const char* thing) {
  return format_text("%u %s%s", static_cast<unsigned>(count), thing, count == 1 ? "" : "s");
}

}  // namespace

void print_verify_listing(const ReadbackImage& image) {
  std::printf("Verify..\n");
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
    std::printf("%s%s\n", line.data(), text_column.data());
  }
}

Verdict verify_readback(const ColorImage& written, const ReadbackImage& read,
                        const ReadBackOutcome& outcome, std::span<const WriteCommand> not_written,
                        VerdictWording wording) {
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
          differences.push_back(format_text(
              wrote ? "0x%03x: wrote %02x, read %02x" : "0x%03x: expected %02x, read %02x", address,
              expected, read[address]));
        }
      }
    } else {
      unread.push_back(format_text("0x%03x-0x%03x: not read back", first,
                                   first + static_cast<unsigned>(k_read_block_size) - 1));
    }
  }
  const unsigned compared = k_verified_end_address - k_verified_first_address;
  verdict.verified = differences.empty() && unread.empty() && not_written.empty();
  if (verdict.verified) {
    verdict.lines.push_back(format_text(
        wrote ? "verified: %u bytes at 0x%03x-0x%03x read back as written"
              : "verified: %u bytes at 0x%03x-0x%03x hold the signature and the settings file",
        compared, k_verified_first_address, k_verified_end_address - 1));
    return verdict;
  }
  std::string summary = "verify failed:";
  const char* separator = " ";
  if (!differences.empty()) {
    summary +=
        format_text("%s%u of %u bytes %s", separator, static_cast<unsigned>(differences.size()),
                    compared, differences.size() == 1 ? "differs" : "differ");
    separator = ", ";
  }
  if (!unread.empty()) {
    summary += separator + count_of(unread.size(), "block") + " not read back";
    separator = ", ";
  }
  if (!not_written.empty()) {
    summary += separator + count_of(not_written.size(), "write command") + " not sent";
  }
  verdict.lines.push_back(summary);
  for (std::size_t i = 0; i < differences.size() && i < k_listed_differences; ++i) {
    verdict.lines.push_back(differences[i]);
  }
  if (differences.size() > k_listed_differences) {
    verdict.lines.push_back(
        "... and " + count_of(differences.size() - k_listed_differences, "more differing byte"));
  }
  verdict.lines.insert(verdict.lines.end(), unread.begin(), unread.end());
  for (const WriteCommand& write : not_written) {
    verdict.lines.push_back(
        format_text("0x%03x-0x%03x: not written, its command was not sent", write.address,
                    write.address + static_cast<unsigned>(write.byte_count) - 1));
  }
  return verdict;
}

}  // namespace murve
