#include "sim/murve_console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace murve_test {
namespace {

std::string feed(murvesim::MurveConsole& console, const std::string& bytes) {
  std::string answer;
  for (char byte : bytes) {
    answer += console.receive(byte);
  }
  return answer;
}

TEST(MurveConsole, AnswersEachKindOfLine) {
  struct Case {
    const char* name;
    std::string sent;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"carriage return", "\r", "\n> "},
      {"CR LF is one line", "\r\n", "\n> "},
      {"help", "h\r", murvesim::help_banner(true) + "> "},
      {"write", "eepromex 80 aa 55\n", "ok\n> "},
      {"unknown", "hello\n", "unknown command [hello]\n> "},
      {"write past the end", "eepromex 1ff 01 02\n", "bad address\n> "},
      {"bad byte", "eepromex 80 aa 5g\n", "bad byte [5g]\n> "},
      {"read past the end", "eepromex read 1f0\n", "bad address\n> "},
      {"write without bytes", "eepromex 80\n",
       "usage: eepromex ADDR BYTE... | eepromex read ADDR\n> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console;
    EXPECT_EQ(feed(console, c.sent), c.answer);
  }
}

TEST(MurveConsole, StoresWritesAndReadsThemBack) {
  murvesim::MurveConsole console;
  EXPECT_EQ(feed(console, "eepromex 0a2 01 2 ab\n"), "ok\n> ");
  EXPECT_EQ(console.eeprom()[0xa1], 0xff);
  EXPECT_EQ(console.eeprom()[0xa2], 0x01);
  EXPECT_EQ(console.eeprom()[0xa3], 0x02);
  EXPECT_EQ(console.eeprom()[0xa4], 0xab);
  EXPECT_EQ(console.eeprom()[0xa5], 0xff);
  std::string expected = "EEPROM DATA\nff ff 01 02 ab";
  for (int i = 5; i < 32; ++i) {
    expected += i == 16 ? "\nff" : " ff";
  }
  EXPECT_EQ(feed(console, "eepromex read a0\n"), expected + "\n> ");
  // A command with a bad byte stores none of its bytes.
  feed(console, "eepromex 0a2 77 zz\n");
  EXPECT_EQ(console.eeprom()[0xa2], 0x01);
  EXPECT_EQ(console.writes_stored(), 1u);
}

TEST(MurveConsole, QuirksChangeTheAnswers) {
  murvesim::ConsoleQuirks quirks;
  quirks.crlf = true;
  quirks.upper_hex = true;
  quirks.echo = true;
  quirks.nul_in_replies = true;
  murvesim::MurveConsole console(quirks);
  console.eeprom()[0x80] = 0xab;
  const std::string answer = feed(console, "eepromex read 80\n");
  EXPECT_EQ(answer.substr(0, 18), std::string("eepromex read 80\n\0", 18));
  EXPECT_EQ(answer.substr(18, 16), "EEPROM DATA\r\nAB ");

  murvesim::ConsoleQuirks plain_banner;
  plain_banner.banner_names_murve = false;
  plain_banner.flood_bytes = 5000;
  murvesim::MurveConsole flooding(plain_banner);
  const std::string banner = feed(flooding, "h\r");
  EXPECT_EQ(banner.find("MURVE"), std::string::npos);
  EXPECT_EQ(banner.size(), murvesim::help_banner(false).size() + 5000 + 2);
}

TEST(MurveConsole, FaultQuirksShapeTheReplies) {
  murvesim::ConsoleQuirks sized;
  sized.reply_size = 300;
  murvesim::ConsoleQuirks nul;
  nul.nul_in_replies = true;
  nul.nul_after = 5;
  murvesim::ConsoleQuirks garbage;
  garbage.garbage = true;
  std::string noise;
  for (int value = 1; value < 256; ++value) {
    noise += static_cast<char>(value);
  }
  const std::string banner = murvesim::help_banner(true) + "> ";
  struct Case {
    const char* name;
    murvesim::ConsoleQuirks quirks;
    std::string sent;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"help padded, filler first", sized, "h\r", murvesim::filler(300 - banner.size()) + banner},
      {"writes are not padded", sized, "eepromex 80 aa\n", "ok\n> "},
      {"NUL after five bytes", nul, "hello\n", std::string("unkno\0wn command [hello]\n> ", 27)},
      {"NUL after a short reply", nul, "\r", std::string("\n> \0", 4)},
      {"line noise around the reply", garbage, "\r", noise + std::string("\n> \0", 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console(c.quirks);
    EXPECT_EQ(feed(console, c.sent), c.answer);
  }
  // A read reply: 12 bytes of marker, 32 pairs and the prompt at the end of its 300.
  murvesim::MurveConsole reads(sized);
  const std::string padded_read = feed(reads, "eepromex read 80\n");
  EXPECT_EQ(padded_read.size(), 300u);
  EXPECT_EQ(padded_read.substr(300 - 110, 12), "EEPROM DATA\n");
  sized.reply_size = 20;  // smaller than the reply: left as it is
  murvesim::MurveConsole small(sized);
  EXPECT_EQ(feed(small, "h\r"), banner);
}

}  // namespace
}  // namespace murve_test
