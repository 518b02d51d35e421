// The whole dialogue with a device whose every reply the input makes up: what it says, how late
// and how fast. Whatever it says, the tool must send nothing but the run's own commands (ending
// the reading early only when the device has stopped replying), wait only within its bounds,
// and fill the read-back only with blocks of 32 well-formed pairs that followed an
// "EEPROM DATA\n" marker, and only at 0x080-0x15F, and only where a block was accepted.
//
// Input: one record a command, in the order sent: a byte of timing (bits 0-6: how late the
// reply begins, in 16 ms; bit 7: a byte every 30 ms rather than all at once), two bytes of
// length (little-endian, cut to what is left), then the reply. Commands past the last record
// get no reply.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_programming.h"
#include "device/readback.h"
#include "fake_link.h"
#include "fuzz_check.h"
#include "settings/color_image.h"

namespace {

// The wake: 1 s for its reply to begin and 3 s to drop the rest; identify: 1 s and 3 s to
// complete it; eight writes, 1 s each; seven reads, each with 3 s to drop what is left over, 1 s
// for a reply to begin, 3 s to complete it and 4.5 s to wait out and drop a late one; and the
// sleeps. Generous.
constexpr std::int64_t k_longest_run_ms = 4100 + 4100 + 8 * 1050 + 7 * 11600;

int lower_hex(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Every block of 32 well-formed pairs directly after a marker somewhere in what the device sent.
std::set<std::string> blocks_sent(std::string_view stream) {
  std::set<std::string> blocks;
  constexpr std::string_view marker = "EEPROM DATA\n";
  for (std::size_t at = stream.find(marker); at != std::string_view::npos;
       at = stream.find(marker, at + 1)) {
    std::string block;
    for (std::size_t p = at + marker.size(); block.size() < 32 && p + 2 < stream.size(); p += 3) {
      if (lower_hex(stream[p]) < 0 || lower_hex(stream[p + 1]) < 0 ||
          (stream[p + 2] != ' ' && stream[p + 2] != '\n')) {
        break;
      }
      block += static_cast<char>(lower_hex(stream[p]) * 16 + lower_hex(stream[p + 1]));
    }
    if (block.size() == 32) {
      blocks.insert(block);
    }
  }
  return blocks;
}

std::vector<std::string> run_commands() {
  const murve::ColorImage image = murve::build_default_image();
  std::vector<std::string> commands = {"\r", "h\r"};
  for (unsigned address = 0x082; address < 0x152; address += 32) {
    const std::size_t count = std::min<std::size_t>(32, 0x152 - address);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "eepromex %03x ", address);
    commands.push_back(prefix + murve::hex_byte_list(murve::image_bytes(image, address, count)) +
                       "\n");
  }
  commands.push_back("eepromex 80 aa 55\n");
  for (unsigned address = 0x080; address < 0x160; address += 32) {
    char read[32];
    std::snprintf(read, sizeof read, "eepromex read %02x\n", address);
    commands.push_back(read);
  }
  return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> k_commands = run_commands();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t next = 0;
  std::string stream;  // every byte the device sends, in order
  murve_test::FakeLink link([&](const std::string&) {
    std::vector<murve_test::ReplyPiece> pieces;
    if (next + 3 > input.size()) {
      return pieces;
    }
    const auto timing = static_cast<std::uint8_t>(input[next]);
    const std::size_t length = static_cast<std::uint8_t>(input[next + 1]) |
                               static_cast<std::uint8_t>(input[next + 2]) << 8;
    const std::string reply(input.substr(next + 3, length));
    next = std::min(input.size(), next + 3 + length);
    stream += reply;
    const std::int64_t late_ms = (timing & 0x7f) * 16;
    if ((timing & 0x80) == 0) {
      pieces.push_back({late_ms, reply});
    } else {
      for (std::size_t i = 0; i < reply.size(); ++i) {
        pieces.push_back({late_ms + 30 * static_cast<std::int64_t>(i), reply.substr(i, 1)});
      }
    }
    return pieces;
  });

  const murve::ColorImage image = murve::build_default_image();
  murve::ReadbackImage readback{};
  murve::ReadBackOutcome outcome;
  const murve::WriteObserver ignore = [](const murve::WriteReport&) {};
  murve::Dialogue dialogue(link);
  if (murve::identify_device(dialogue).result == murve::IdentifyResult::identified) {
    murve::write_color_image(dialogue, image, ignore);
    if (!murve::write_signature(dialogue, ignore).failed()) {
      outcome = murve::read_back(dialogue, readback);
    }
  }
  FUZZ_CHECK(murve_fuzz::take_stdout().empty());

  // Identify, or the whole run; the reading ends early only after two blocks in a row without any
  // reply, late ones included, the device having stopped replying.
  constexpr std::size_t k_commands_before_reads = 2 + 7 + 1;
  FUZZ_CHECK(link.sent.size() <= k_commands.size());
  FUZZ_CHECK(std::equal(link.sent.begin(), link.sent.end(), k_commands.begin()));
  FUZZ_CHECK(link.sent.size() == 2 || link.sent.size() > k_commands_before_reads);
  if (link.sent.size() > 2 && link.sent.size() < k_commands.size()) {
    const std::size_t reads = link.sent.size() - k_commands_before_reads;
    FUZZ_CHECK(reads >= 2 && outcome.blocks[reads - 1].device_stopped &&
               !outcome.blocks[reads - 1].late_reply &&
               outcome.blocks[reads - 2].status == murve::BlockStatus::no_reply &&
               !outcome.blocks[reads - 2].late_reply);
  }
  FUZZ_CHECK(link.sent.size() == 2 || stream.find("MURVE") != std::string::npos);
  FUZZ_CHECK(link.now_ms <= k_longest_run_ms);
  const std::set<std::string> sent_blocks = blocks_sent(stream);
  for (std::size_t first = 0; first < readback.size(); first += 32) {
    const std::string block(readback.begin() + static_cast<std::ptrdiff_t>(first),
                            readback.begin() + static_cast<std::ptrdiff_t>(first + 32));
    if (first >= 0x080 && first < 0x160) {
      // A block is filled only when it was accepted.
      FUZZ_CHECK(block == std::string(32, '\0') ||
                 outcome.blocks[(first - 0x080) / 32].status == murve::BlockStatus::accepted);
    }
    if (block == std::string(32, '\0')) {
      continue;
    }
    FUZZ_CHECK(first >= 0x080 && first < 0x160);
    FUZZ_CHECK(sent_blocks.count(block) == 1);
  }
  return 0;
}
