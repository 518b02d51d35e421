#include "sim/murve_device.h"

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

}  // namespace
}  // namespace murve_test
