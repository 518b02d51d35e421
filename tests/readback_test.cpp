#include "device/readback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/verification.h"
#include "fake_link.h"
#include "settings/color_image.h"

namespace murve_test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// 32 pairs, 16 a line, as the console sends them; byte i is `first + i`.
std::string block_pairs(int first) {
  std::string pairs;
  char pair[4];
  for (int i = 0; i < 32; ++i) {
    std::snprintf(pair, sizeof pair, "%02x%c", (first + i) & 0xff, i % 16 == 15 ? '\n' : ' ');
    pairs += pair;
  }
  return pairs;
}

TEST(DecodeDataReply, AcceptsOnlyWellFormedPairs) {
  const std::string good = block_pairs(0xa0);
  struct Case {
    const char* name;
    std::string text;
    std::size_t pair_count;
    murve::DecodeStop stop;
  };
  std::string upper = good;
  upper[3 * 20] = 'B';  // pair 20 becomes "Bx"
  std::string with_cr = good;
  with_cr[3 * 5 + 2] = '\r';
  std::string double_space = good;
  double_space.insert(3 * 7 + 2, " ");
  const std::vector<Case> cases = {
      {"32 pairs", good, 32, murve::DecodeStop::end_of_text},
      {"empty", "", 0, murve::DecodeStop::end_of_text},
      {"upper-case digit", upper, 20, murve::DecodeStop::unexpected_character},
      {"carriage return after a pair", with_cr, 5, murve::DecodeStop::unexpected_character},
      {"second space", double_space, 8, murve::DecodeStop::unexpected_character},
      {"last pair without separator", good.substr(0, good.size() - 1), 31,
       murve::DecodeStop::end_of_text},
      {"prompt after the pairs", good + "> ", 32, murve::DecodeStop::unexpected_character},
      {"33 pairs", good + "ff ", 33, murve::DecodeStop::end_of_text},
      {"half a pair", "a", 0, murve::DecodeStop::end_of_text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const murve::DecodedReply decoded = murve::decode_data_reply(c.text.c_str());
    EXPECT_EQ(decoded.pair_count, c.pair_count);
    EXPECT_EQ(decoded.stop, c.stop);
  }
  const murve::DecodedReply decoded = murve::decode_data_reply(good.c_str());
  for (std::size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(decoded.bytes[i], (0xa0 + i) & 0xff);  // the first digit is the high one
  }
}

TEST(FindDataMarker, NeedsTheMarkerWithItsLineFeed) {
  EXPECT_STREQ(murve::find_data_marker("> EEPROM DATA\n12 "), "12 ");
  EXPECT_EQ(murve::find_data_marker("EEPROM DATA\r\n12 "), nullptr);
  EXPECT_EQ(murve::find_data_marker("EEPROM DATA"), nullptr);
  EXPECT_STREQ(murve::find_data_marker("EEPROM DATA\n1 EEPROM DATA\n2"), "1 EEPROM DATA\n2");
}

TEST(PrintVerifyListing, PrintsFourteenLinesOfSixteenBytes) {
  murve::ReadbackImage image{};
  const std::vector<std::uint8_t> first = {0xaa, 0x55, 0xff, 0xff, 0xfc, 0xe0, 0x1c, 0xf8,
                                           0xe0, 0xf8, 0x1c, 0x1f, 0x3f, 0x3f, 0x3f, 0xff};
  std::copy(first.begin(), first.end(), image.begin() + 0x80);
  image[0x15f] = 'A';
  image[0x160] = 'B';  // beyond the listing
  image[0x7f] = 'C';
  CaptureStdout();
  murve::print_verify_listing(image);
  const std::string listing = GetCapturedStdout();
  ASSERT_EQ(listing.size(), 9 + 14 * 71u);
  EXPECT_EQ(listing.substr(0, 9), "Verify..\n");
  EXPECT_EQ(listing.substr(9, 71),
            "0080: aa 55 ff ff fc e0 1c f8-e0 f8 1c 1f 3f 3f 3f ff .U..........???.\n");
  EXPECT_EQ(listing.substr(9 + 8 * 71, 71),
            "0100: 00 00 00 00 00 00 00 00-00 00 00 00 00 00 00 00 ................\n");
  EXPECT_EQ(listing.substr(9 + 13 * 71, 71),
            "0150: 00 00 00 00 00 00 00 00-00 00 00 00 00 00 00 41 ...............A\n");
}

TEST(PrintVerifyListing, TextColumnShowsPrintableBytesOnly) {
  murve::ReadbackImage image{};
  const std::vector<std::uint8_t> bytes = {0x1f, 0x20, 0x7e, 0x7f, 0x80, 0xff, '%', 's',
                                           '\\', 'n',  0x00, 'z',  'Z',  '0',  '~', '.'};
  std::copy(bytes.begin(), bytes.end(), image.begin() + 0x90);
  CaptureStdout();
  murve::print_verify_listing(image);
  const std::string listing = GetCapturedStdout();
  EXPECT_EQ(listing.substr(9 + 71, 71),
            "0090: 1f 20 7e 7f 80 ff 25 73-5c 6e 00 7a 5a 30 7e 2e . ~...%s\\n.zZ0~.\n");
}

// A differing byte is named as the settings file names it, at the edges of each part.
TEST(VerifyReadback, NamesEachByteAsTheSettingsFileDoes) {
  const std::vector<std::pair<unsigned, std::string>> cases = {
      {0x07f, ""},
      {0x080, "signature, byte 0"},
      {0x081, "signature, byte 1"},
      {0x082, "colour code 0"},
      {0x0c1, "colour code 63"},
      {0x0c2, "c2608 entry 0, byte 0"},
      {0x0c5, "c2608 entry 0, fill byte"},
      {0x0c6, "c2608 entry 1, byte 0"},
      {0x101, "c2608 entry 15, fill byte"},
      {0x102, "c2151 entry 0, byte 0"},
      {0x121, "c2151 entry 7, fill byte"},
      {0x122, "cspec entry 0, byte 0"},
      {0x125, "cspec entry 1, byte 0"},
      {0x151, "cspec entry 15, byte 2"},
      {0x152, ""},
  };
  for (const auto& [address, name] : cases) {
    EXPECT_EQ(murve::setting_name(address), name) << std::hex << address;
  }
}

// -verify compares what the listing shows at 0x080-0x151 with what was written.
TEST(VerifyReadback, ComparesWhatTheListingShows) {
  const murve::ColorImage written = murve::build_default_image();
  murve::ReadbackImage as_written{};
  as_written[0x80] = 0xaa;
  as_written[0x81] = 0x55;
  std::copy(written.bytes.begin(), written.bytes.end(), as_written.begin() + 0x82);
  struct Case {
    const char* name;
    std::function<void(murve::ReadbackImage&)> change;
    std::vector<int> unread_blocks;
    std::vector<murve::WriteCommand> not_written;
    std::vector<std::string> lines;
  };
  const auto nothing = [](murve::ReadbackImage&) {};
  const std::vector<Case> cases = {
      {"as written", nothing, {}, {}, {"verified: 210 bytes at 0x080-0x151 read back as written"}},
      {"bytes after the image are not compared",
       [](murve::ReadbackImage& r) {
         r[0x152] = 0x01;
         r[0x15f] = 0x02;
       },
       {},
       {},
       {"verified: 210 bytes at 0x080-0x151 read back as written"}},
      {"one byte",
       [](murve::ReadbackImage& r) { r[0xc3] = 0x21; },
       {},
       {},
       {"verify failed: 1 of 210 bytes differs",
        "0x0c3: c2608 entry 0, byte 1: wrote 20, read 21"}},
      {"the signature and the last byte",
       [](murve::ReadbackImage& r) {
         r[0x81] = 0x56;
         r[0x151] = 0x01;
       },
       {},
       {},
       {"verify failed: 2 of 210 bytes differ", "0x081: signature, byte 1: wrote 55, read 56",
        "0x151: cspec entry 15, byte 2: wrote 00, read 01"}},
      {"more than sixteen",
       [](murve::ReadbackImage& r) {
         for (unsigned a = 0x100; a < 0x114; ++a) {
           r[a] ^= 0xff;
         }
       },
       {},
       {},
       {"verify failed: 20 of 210 bytes differ", "0x100: c2608 entry 15, byte 2: wrote 3f, read c0",
        "0x101: c2608 entry 15, fill byte: wrote 00, read ff",
        "0x102: c2151 entry 0, byte 0: wrote 20, read df",
        "0x103: c2151 entry 0, byte 1: wrote 20, read df",
        "0x104: c2151 entry 0, byte 2: wrote 3f, read c0",
        "0x105: c2151 entry 0, fill byte: wrote 00, read ff",
        "0x106: c2151 entry 1, byte 0: wrote 20, read df",
        "0x107: c2151 entry 1, byte 1: wrote 20, read df",
        "0x108: c2151 entry 1, byte 2: wrote 3f, read c0",
        "0x109: c2151 entry 1, fill byte: wrote 00, read ff",
        "0x10a: c2151 entry 2, byte 0: wrote 20, read df",
        "0x10b: c2151 entry 2, byte 1: wrote 20, read df",
        "0x10c: c2151 entry 2, byte 2: wrote 3f, read c0",
        "0x10d: c2151 entry 2, fill byte: wrote 00, read ff",
        "0x10e: c2151 entry 3, byte 0: wrote 20, read df",
        "0x10f: c2151 entry 3, byte 1: wrote 20, read df", "... and 4 more differing bytes"}},
      // A block not read lists as zeros; its bytes are not compared, the block is named.
      {"blocks not read",
       nothing,
       {2, 6},
       {},
       {"verify failed: 2 blocks not read back", "0x0c0-0x0df: not read back",
        "0x140-0x15f: not read back"}},
      {"a write command not sent",
       nothing,
       {},
       {{0x0a2, 32}},
       {"verify failed: 1 write command not sent",
        "0x0a2-0x0c1: not written, its command was not sent"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murve::ReadbackImage read = as_written;
    c.change(read);
    murve::ReadBackOutcome outcome;
    for (murve::BlockOutcome& block : outcome.blocks) {
      block.status = murve::BlockStatus::accepted;
    }
    for (int block : c.unread_blocks) {
      outcome.blocks[static_cast<std::size_t>(block)].status = murve::BlockStatus::no_reply;
      std::fill_n(read.begin() + 0x80 + 32 * block, 32, 0);
    }
    const murve::Verdict verdict = murve::verify_readback(written, read, outcome, c.not_written);
    EXPECT_EQ(verdict.lines, c.lines);
    EXPECT_EQ(verdict.verified, c.lines.size() == 1 && c.lines[0].rfind("verified", 0) == 0);
  }
}

// Replies to read commands from `eeprom` as planned by `pieces_for` (the reply split into pieces).
struct ReadDevice {
  murvesim::MurveConsole console;
  std::function<std::vector<ReplyPiece>(int block, const std::string& reply)> pieces_for =
      [](int, const std::string& reply) {
        return std::vector<ReplyPiece>{{0, reply}};
      };
  int reads = 0;

  FakeLink::ReplyPlan replies() {
    return [this](const std::string& sent) {
      std::string reply;
      for (char byte : sent) {
        reply += console.receive(byte);
      }
      return pieces_for(reads++, reply);
    };
  }
};

void fill_pattern(murvesim::Eeprom& eeprom) {
  for (std::size_t i = 0; i < eeprom.size(); ++i) {
    eeprom[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
}

murve::ReadBackOutcome read_back_over(
    FakeLink& link, murve::ReadbackImage& image,
    murve::ReadBackPolicy policy = murve::ReadBackPolicy::listing) {
  murve::Dialogue dialogue(link);
  return murve::read_back(dialogue, image, policy);
}

bool block_read(const murve::ReadbackImage& image, const murvesim::Eeprom& eeprom, int block) {
  const std::size_t first = 0x80 + 32 * static_cast<std::size_t>(block);
  return std::equal(image.begin() + first, image.begin() + first + 32, eeprom.begin() + first);
}

bool block_zero(const murve::ReadbackImage& image, int block) {
  const std::size_t first = 0x80 + 32 * static_cast<std::size_t>(block);
  return std::all_of(image.begin() + first, image.begin() + first + 32,
                     [](std::uint8_t b) { return b == 0; });
}

TEST(ReadBack, FillsAllSevenBlocksFromAWellBehavedDevice) {
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  FakeLink link(device.replies());
  murve::ReadbackImage image{};
  EXPECT_TRUE(read_back_over(link, image).all_accepted());
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
  }
  EXPECT_EQ(image[0x7f], 0);
  EXPECT_EQ(image[0x160], 0);
  EXPECT_EQ(link.sent.front(), "eepromex read 80\n");
  EXPECT_EQ(link.sent.back(), "eepromex read 140\n");
  EXPECT_EQ(link.sent.size(), 7u);
}

TEST(ReadBack, RejectsMalformedRepliesWithoutWaitingForMore) {
  struct Case {
    const char* name;
    murvesim::ConsoleQuirks quirks;
  };
  murvesim::ConsoleQuirks upper;
  upper.upper_hex = true;
  murvesim::ConsoleQuirks crlf;
  crlf.crlf = true;
  murvesim::ConsoleQuirks nul;
  nul.nul_in_replies = true;
  for (const Case& c : {Case{"upper-case hex", upper}, Case{"CR LF lines", crlf},
                        Case{"NUL before the reply", nul}}) {
    SCOPED_TRACE(c.name);
    ReadDevice device;
    device.console = murvesim::MurveConsole(c.quirks);
    fill_pattern(device.console.eeprom());
    // Patterned bytes whose pairs hold no letter would pass even in upper case.
    device.console.eeprom()[0x80] = 0xab;
    FakeLink link(device.replies());
    murve::ReadbackImage image{};
    read_back_over(link, image);
    EXPECT_TRUE(block_zero(image, 0));
    EXPECT_EQ(link.now_ms, 7 * 10);  // the seven sleeps, and no wait for more of any reply
  }
}

TEST(ReadBack, LeftoversOfEarlierRepliesAreDropped) {
  // What a flood left queued behind the signature's reply looks like a read reply of its own;
  // taken as block 0's, it would list the wrong bytes.
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  std::string stale(4200, '.');
  stale += "EEPROM DATA\n" + block_pairs(0xee);
  device.pieces_for = [](int, const std::string& r) { return std::vector<ReplyPiece>{{0, r}}; };
  bool flooded = false;
  FakeLink link([&](const std::string& sent) {
    if (!flooded) {
      flooded = true;
      return std::vector<ReplyPiece>{{0, stale}};
    }
    return device.replies()(sent);
  });
  link.send_bytes("eepromex 80 aa 55\n", 18);
  murve::Dialogue(link).read_response();
  murve::ReadbackImage image{};
  read_back_over(link, image);
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
  }
}

// What each block's reply was: "ok", "silent", "late" (dropped), "stopped" (silent, and the
// reading ended), "failed" (not sent), "-" (not asked), "marker", "pairs N" or "step".
std::vector<std::string> block_statuses(const murve::ReadBackOutcome& outcome) {
  std::vector<std::string> statuses;
  for (const murve::BlockOutcome& block : outcome.blocks) {
    switch (block.status) {
      case murve::BlockStatus::accepted:
        statuses.push_back("ok");
        break;
      case murve::BlockStatus::not_asked:
        statuses.push_back("-");
        break;
      case murve::BlockStatus::send_failed:
        statuses.push_back("failed");
        break;
      case murve::BlockStatus::no_reply:
        statuses.push_back(block.device_stopped ? "stopped" : block.late_reply ? "late" : "silent");
        break;
      case murve::BlockStatus::no_marker:
        statuses.push_back(block.nul_byte ? "marker NUL" : "marker");
        break;
      case murve::BlockStatus::wrong_pairs:
        statuses.push_back("pairs " + std::to_string(block.decoded.pair_count) +
                           (block.nul_byte ? " NUL" : ""));
        break;
      case murve::BlockStatus::out_of_step:
        statuses.push_back("step");
        break;
    }
  }
  return statuses;
}

using Pieces = std::function<std::vector<ReplyPiece>(int, const std::string&)>;

// Block `late` replied to `after_ms` after its command; blocks from `silent_from` on never reply.
Pieces replies(int late = -1, std::int64_t after_ms = 0, int silent_from = 99) {
  return [=](int block, const std::string& r) {
    if (block >= silent_from) {
      return std::vector<ReplyPiece>{};
    }
    return std::vector<ReplyPiece>{{block == late ? after_ms : 0, r}};
  };
}

// Each block's reply, then the same reply again `after_ms` later, as a device that replies twice.
Pieces replied_twice(int twice, std::int64_t after_ms) {
  return [=](int block, const std::string& r) {
    std::vector<ReplyPiece> pieces = {{0, r}};
    if (block == twice) {
      pieces.push_back({after_ms, r});
    }
    return pieces;
  };
}

TEST(ReadBack, EachBlockSaysHowItWent) {
  struct Case {
    const char* name;
    Pieces pieces;
    murve::ReadBackPolicy policy;
    std::vector<std::string> statuses;
    std::int64_t at_most_ms = 7 * 20;  // on the link's clock
  };
  const auto listing = murve::ReadBackPolicy::listing;
  const auto backup = murve::ReadBackPolicy::backup;
  const std::vector<std::string> all_ok = {"ok", "ok", "ok", "ok", "ok", "ok", "ok"};
  const std::vector<Case> cases = {
      {"all replied", replies(), listing, all_ok},
      // Replies that come in pieces, or late within the second, are read whole.
      {"halves 40 ms apart",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{2, r.substr(0, r.size() / 2)},
                                        {42, r.substr(r.size() / 2)}};
       },
       listing, all_ok, 7 * 20 + 3000},
      {"the whole reply after the 10 ms read",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{300, r}};
       },
       listing, all_ok, 7 * 20 + 3000},
      {"marker split across pieces",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{1, r.substr(0, 6)}, {90, r.substr(6)}};
       },
       listing, all_ok, 7 * 20 + 3000},
      {"a byte at a time, 20 ms apart, as on a line of 500 baud",
       [](int block, const std::string& r) {
         std::vector<ReplyPiece> pieces;
         if (block != 3) {
           return std::vector<ReplyPiece>{{0, r}};
         }
         for (std::size_t i = 0; i < r.size(); ++i) {
           pieces.push_back({static_cast<std::int64_t>(20 * i), r.substr(i, 1)});
         }
         return pieces;
       },
       listing, all_ok, 7 * 20 + 3000},
      // A reply later than the second it has to begin is waited out and dropped, never
      // taken for the next block's.
      {"a reply 1.5 s late",
       replies(2, 1500),
       listing,
       {"ok", "ok", "late", "ok", "ok", "ok", "ok"},
       2600 + 6 * 20},
      {"a reply 2.4 s late",
       replies(1, 2400),
       listing,
       {"ok", "late", "ok", "ok", "ok", "ok", "ok"},
       2600 + 6 * 20},
      {"a reply that never comes",
       [](int block, const std::string& r) {
         return block == 1 ? std::vector<ReplyPiece>{} : std::vector<ReplyPiece>{{0, r}};
       },
       listing,
       {"ok", "silent", "ok", "ok", "ok", "ok", "ok"},
       2600 + 6 * 20},
      {"the last reply never comes",
       replies(-1, 0, 6),
       listing,
       {"ok", "ok", "ok", "ok", "ok", "ok", "silent"},
       6 * 20 + 1110},
      // Two silent blocks in a row end the reading: the device has stopped replying.
      {"a device that stops replying",
       replies(-1, 0, 2),
       listing,
       {"ok", "ok", "silent", "stopped", "-", "-", "-"},
       2 * 20 + 2 * 2600},
      // A reply that came late is a reply: only silence counts toward a device that stopped.
      {"a device that replies to every read 1.2-2.4 s late",
       [](int block, const std::string& r) {
         return std::vector<ReplyPiece>{{1200 + 200 * block, r}};
       },
       listing,
       {"late", "late", "late", "late", "late", "late", "silent"},
       7 * 2600},
      // A backup waits a while after each reply, and fails on anything more.
      {"a backup",
       replies(),
       backup,
       {"ok", "ok", "ok", "ok", "ok", "ok", "ok"},
       8 * murve::k_backup_quiet_ms + 7 * 20},
      // Replies in pieces, as every adapter delivers them, are one reply each.
      {"a backup of a line that brings a byte a millisecond",
       [](int, const std::string& r) {
         std::vector<ReplyPiece> pieces;
         for (std::size_t i = 0; i < r.size(); ++i) {
           pieces.push_back({static_cast<std::int64_t>(i), r.substr(i, 1)});
         }
         return pieces;
       },
       backup, all_ok, 8 * murve::k_backup_quiet_ms + 7 * 130},
      {"a backup of a device replying twice, the second time a byte a millisecond",
       [](int block, const std::string& r) {
         std::vector<ReplyPiece> pieces = {{0, r}};
         for (std::size_t i = 0; block == 2 && i < r.size(); ++i) {
           pieces.push_back({static_cast<std::int64_t>(40 + i), r.substr(i, 1)});
         }
         return pieces;
       },
       backup,
       {"ok", "ok", "step", "-", "-", "-", "-"},
       3000},
      {"a backup of a device replying twice",
       replied_twice(3, 30),
       backup,
       {"ok", "ok", "ok", "step", "-", "-", "-"},
       3000},
      {"a backup of a device replying to the last read twice",
       replied_twice(6, 60),
       backup,
       {"ok", "ok", "ok", "ok", "ok", "ok", "step"},
       3000},
      {"a backup whose reply holds two blocks",
       [](int block, const std::string& r) {
         return std::vector<ReplyPiece>{{0, block == 4 ? r + r : r}};
       },
       backup,
       {"ok", "ok", "ok", "ok", "step", "-", "-"},
       3000},
      {"a backup of a silent block",
       replies(-1, 0, 1),
       backup,
       {"ok", "silent", "-", "-", "-", "-", "-"},
       3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadDevice device;
    fill_pattern(device.console.eeprom());
    device.pieces_for = c.pieces;
    FakeLink link(device.replies());
    murve::ReadbackImage image{};
    const murve::ReadBackOutcome outcome = read_back_over(link, image, c.policy);
    EXPECT_EQ(block_statuses(outcome), c.statuses);
    EXPECT_LE(link.now_ms, c.at_most_ms);
    for (int block = 0; block < 7; ++block) {
      // What the image holds at a block is that block's bytes, or zeros, out-of-step ones too.
      if (c.statuses[static_cast<std::size_t>(block)] == "ok") {
        EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
      } else {
        EXPECT_TRUE(block_zero(image, block)) << block;
      }
    }
  }
}

TEST(ReadBack, RejectedRepliesSayWhy) {
  struct Case {
    const char* name;
    std::function<std::string(const std::string&)> change;  // of block 2's reply
    std::string status;
    murve::DecodeStop stop;
    char stop_character;
  };
  const std::vector<Case> cases = {
      {"CR LF after the marker",
       [](std::string r) { return r.replace(r.find("DATA\n"), 5, "DATA\r\n"); }, "marker",
       murve::DecodeStop::end_of_text, '\0'},
      {"an upper-case digit",
       [](std::string r) { return r.replace(r.find("DATA\n") + 5 + 3 * 20, 1, "A"); }, "pairs 20",
       murve::DecodeStop::unexpected_character, 'A'},
      {"the last separator missing", [](std::string r) { return r.substr(0, r.rfind('\n')); },
       "pairs 31", murve::DecodeStop::end_of_text, '\0'},
      {"33 pairs", [](std::string r) { return r.insert(r.rfind('\n') + 1, "00 "); }, "pairs 33",
       murve::DecodeStop::unexpected_character, '>'},
      {"a NUL after 6 pairs",
       [](std::string r) { return r.insert(r.find("DATA\n") + 5 + 3 * 6, 1, '\0'); }, "pairs 6 NUL",
       murve::DecodeStop::end_of_text, '\0'},
      {"a NUL in the marker", [](std::string r) { return r.insert(r.find("DATA"), 1, '\0'); },
       "marker NUL", murve::DecodeStop::end_of_text, '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadDevice device;
    fill_pattern(device.console.eeprom());
    device.pieces_for = [&c](int block, const std::string& r) {
      return std::vector<ReplyPiece>{{0, block == 2 ? c.change(r) : r}};
    };
    FakeLink link(device.replies());
    murve::ReadbackImage image{};
    const murve::ReadBackOutcome outcome = read_back_over(link, image);
    EXPECT_EQ(block_statuses(outcome)[2], c.status);
    EXPECT_EQ(outcome.blocks[2].decoded.stop, c.stop);
    EXPECT_EQ(outcome.blocks[2].decoded.stop_character, c.stop_character);
    EXPECT_TRUE(block_zero(image, 2));
    EXPECT_TRUE(block_read(image, device.console.eeprom(), 3));
  }
}

TEST(ReadBack, FailedReadCommandStopsReading) {
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  FakeLink link(device.replies());
  link.fail_sends(2);
  murve::ReadbackImage image{};
  const murve::ReadBackOutcome outcome = read_back_over(link, image);
  EXPECT_EQ(block_statuses(outcome),
            (std::vector<std::string>{"ok", "ok", "failed", "-", "-", "-", "-"}));
  EXPECT_EQ(outcome.blocks[2].send.error.code, FakeLink::k_send_error_code);
  EXPECT_EQ(link.sent.size(), 2u);
  EXPECT_TRUE(block_read(image, device.console.eeprom(), 1));
  for (int block = 2; block < 7; ++block) {
    EXPECT_TRUE(block_zero(image, block)) << block;
  }
}

TEST(ReadBack, GivesUpOnADeviceThatNeverStopsTrickling) {
  // A byte of garbage every 90 ms, forever: each reply is given up within its bound.
  FakeLink link([](const std::string&) {
    std::vector<ReplyPiece> pieces;
    for (int i = 0; i < 1000; ++i) {
      pieces.push_back({90 * i, "x"});
    }
    return pieces;
  });
  murve::ReadbackImage image{};
  read_back_over(link, image);
  EXPECT_EQ(link.sent.size(), 7u);
  EXPECT_LE(link.now_ms, 7 * (10 + murve::k_complete_reply_limit_ms + 100));
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_zero(image, block)) << block;
  }
}

}  // namespace
}  // namespace murve_test
