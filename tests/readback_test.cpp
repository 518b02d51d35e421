#include "device/readback.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_link.h"

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

// Answers read commands from `eeprom` as planned by `pieces_for` (the reply split into pieces).
struct ReadDevice {
  murvesim::MurveConsole console;
  std::function<std::vector<ReplyPiece>(int block, const std::string& reply)> pieces_for =
      [](int, const std::string& reply) {
        return std::vector<ReplyPiece>{{0, reply}};
      };
  int reads = 0;

  FakeLink::Responder responder() {
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
  FakeLink link(device.responder());
  murve::ReadbackImage image{};
  CaptureStdout();
  murve::read_back(link, image);
  EXPECT_EQ(GetCapturedStdout(), "");
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
  }
  EXPECT_EQ(image[0x7f], 0);
  EXPECT_EQ(image[0x160], 0);
  EXPECT_EQ(link.sent.front(), "eepromex read 80\n");
  EXPECT_EQ(link.sent.back(), "eepromex read 140\n");
  EXPECT_EQ(link.sent.size(), 7u);
}

TEST(ReadBack, CompletesRepliesThatArriveLate) {
  struct Case {
    const char* name;
    std::function<std::vector<ReplyPiece>(int, const std::string&)> pieces;
  };
  const std::vector<Case> cases = {
      {"halves 40 ms apart",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{2, r.substr(0, r.size() / 2)},
                                        {42, r.substr(r.size() / 2)}};
       }},
      {"the whole reply after the 10 ms read",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{300, r}};
       }},
      {"marker split across pieces",
       [](int, const std::string& r) {
         return std::vector<ReplyPiece>{{1, r.substr(0, 6)}, {90, r.substr(6)}};
       }},
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
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadDevice device;
    fill_pattern(device.console.eeprom());
    device.pieces_for = c.pieces;
    FakeLink link(device.responder());
    murve::ReadbackImage image{};
    murve::read_back(link, image);
    for (int block = 0; block < 7; ++block) {
      EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
    }
  }
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
    FakeLink link(device.responder());
    murve::ReadbackImage image{};
    murve::read_back(link, image);
    EXPECT_TRUE(block_zero(image, 0));
  }
}

TEST(ReadBack, DoesNotAcceptMoreThanThirtyTwoPairs) {
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  device.pieces_for = [](int block, const std::string& r) {
    if (block != 2) {
      return std::vector<ReplyPiece>{{0, r}};
    }
    const std::size_t end_of_pairs = r.rfind('\n') + 1;
    return std::vector<ReplyPiece>{{0, r.substr(0, end_of_pairs) + "00 " + r.substr(end_of_pairs)}};
  };
  FakeLink link(device.responder());
  murve::ReadbackImage image{};
  murve::read_back(link, image);
  EXPECT_TRUE(block_zero(image, 2));
  EXPECT_TRUE(block_read(image, device.console.eeprom(), 1));
  EXPECT_TRUE(block_read(image, device.console.eeprom(), 3));
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
    return device.responder()(sent);
  });
  link.send_bytes("eepromex 80 aa 55\n", 18);
  link.read_response();
  murve::ReadbackImage image{};
  murve::read_back(link, image);
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
  }
}

TEST(ReadBack, ReplyThatNeverComesLeavesItsBlockZero) {
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  device.pieces_for = [](int block, const std::string& r) {
    return block == 1 ? std::vector<ReplyPiece>{} : std::vector<ReplyPiece>{{0, r}};
  };
  FakeLink link(device.responder());
  murve::ReadbackImage image{};
  murve::read_back(link, image);
  EXPECT_TRUE(block_zero(image, 1));
  for (int block : {0, 2, 3, 4, 5, 6}) {
    EXPECT_TRUE(block_read(image, device.console.eeprom(), block)) << block;
  }
}

TEST(ReadBack, FailedReadCommandStopsReading) {
  ReadDevice device;
  fill_pattern(device.console.eeprom());
  FakeLink link(device.responder());
  link.fail_sends(2);
  murve::ReadbackImage image{};
  CaptureStdout();
  murve::read_back(link, image);
  EXPECT_EQ(GetCapturedStdout(), "write error.\n");
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
  murve::read_back(link, image);
  EXPECT_EQ(link.sent.size(), 7u);
  EXPECT_LE(link.now_ms, 7 * (10 + murve::k_complete_reply_limit_ms + 100));
  for (int block = 0; block < 7; ++block) {
    EXPECT_TRUE(block_zero(image, block)) << block;
  }
}

}  // namespace
}  // namespace murve_test
