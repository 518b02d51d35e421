#include "device/device_programming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_link.h"
#include "settings/color_image.h"
#include "test_support.h"

namespace murve_test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

murve::ColorImage default_image() {
  murve::ColorImage image;
  murve::build_default_image(image);
  return image;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) {
    all += line;
  }
  return all;
}

// Answers the wake byte with a prompt and "h\r" with `banner`, in the pieces given.
FakeLink::Responder banner_responder(std::vector<ReplyPiece> banner) {
  return [banner](const std::string& sent) {
    if (sent == "h\r") {
      return banner;
    }
    return std::vector<ReplyPiece>{{0, "\n> "}};
  };
}

TEST(HexByteList, JoinsLowercasePairsWithSingleSpaces) {
  const std::vector<std::uint8_t> bytes = {0x00, 0xab, 0x0f, 0xff};
  EXPECT_EQ(murve::hex_byte_list({}), "");
  EXPECT_EQ(murve::hex_byte_list(std::span(bytes).first(1)), "00");
  EXPECT_EQ(murve::hex_byte_list(bytes), "00 ab 0f ff");
}

TEST(IdentifyDevice, JudgesTheBannerByTheTextMurve) {
  struct Case {
    const char* name;
    std::vector<ReplyPiece> banner;
    bool identified;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {"names MURVE Pro", {{2, "MURVE Pro\n> "}}, true, "MURVE Pro\n> \n"},
      {"MURVE inside other text", {{2, "xMURVEx"}}, true, "xMURVEx\n"},
      {"lower case does not count",
       {{2, "murve pro\n> "}},
       false,
       "murve pro\n> \nMURVE(6183) not found.\n"},
      {"silent device", {}, false, "\nMURVE(6183) not found.\n"},
      {"NUL hides what follows",
       {{2, std::string("ok\0MURVE", 8)}},
       false,
       "ok\nMURVE(6183) not found.\n"},
      // A banner that arrives in pieces is judged whole, not by its first bytes.
      {"banner still arriving",
       {{2, "Welcome to the "}, {60, "MURVE Pro\n> "}},
       true,
       "Welcome to the MURVE Pro\n> \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink link(banner_responder(c.banner));
    CaptureStdout();
    EXPECT_EQ(murve::identify_device(link), c.identified);
    EXPECT_EQ(GetCapturedStdout(), c.printed);
    EXPECT_EQ(link.sent, (std::vector<std::string>{"\r", "h\r"}));
  }
}

TEST(IdentifyDevice, SleepsTenMillisecondsAndReadsOnceAfterEachWrite) {
  FakeLink link(banner_responder({{0, "MURVE Pro\n> "}}));
  CaptureStdout();
  ASSERT_TRUE(murve::identify_device(link));
  GetCapturedStdout();
  EXPECT_EQ(link.events, (std::vector<std::string>{"send \r", "sleep 10", "receive", "send h\r",
                                                   "sleep 10", "receive"}));
}

TEST(IdentifyDevice, FailedWriteEndsIdentification) {
  for (int failing : {0, 1}) {
    SCOPED_TRACE(failing);
    FakeLink link(banner_responder({{0, "MURVE Pro\n> "}}));
    link.fail_sends(failing);
    CaptureStdout();
    EXPECT_FALSE(murve::identify_device(link));
    EXPECT_EQ(GetCapturedStdout(), "write error.\n");
    EXPECT_EQ(link.sent.size(), static_cast<std::size_t>(failing));
  }
}

TEST(WriteColorImage, SendsAndEchoesTheSevenDefaultCommands) {
  murvesim::MurveConsole console;
  FakeLink link(console_responder(console));
  CaptureStdout();
  murve::write_color_image(link, default_image());
  EXPECT_EQ(GetCapturedStdout(), joined(k_default_write_commands));
  EXPECT_EQ(link.sent, k_default_write_commands);
  // Lock step: each command is followed by its 50 ms and one read before the next.
  for (std::size_t i = 0; i < k_default_write_commands.size(); ++i) {
    EXPECT_EQ(link.events[3 * i + 1], "sleep 50");
    EXPECT_EQ(link.events[3 * i + 2], "receive");
  }
  // The console stored exactly the image at 0x082-0x151.
  const murve::ColorImage image = default_image();
  EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), console.eeprom().begin() + 0x82));
  EXPECT_EQ(console.eeprom()[0x81], 0xff);
  EXPECT_EQ(console.eeprom()[0x152], 0xff);
}

TEST(WriteColorImage, FailedCommandEndsOnlyItsGroup) {
  struct Case {
    const char* name;
    int first_failing;
    int until;
    std::vector<std::size_t> echoed;  // indexes into the default commands
    std::string errors_before_group_b;
    std::string errors_after_group_b;
  };
  const std::vector<Case> cases = {
      {"first of group A", 0, 1, {2, 3, 4, 5, 6}, "write error.\n", ""},
      {"second of group A", 1, 2, {0, 2, 3, 4, 5, 6}, "write error.\n", ""},
      {"third of group B", 4, 5, {0, 1, 2, 3}, "", "write error.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console;
    FakeLink link(console_responder(console));
    link.fail_sends(c.first_failing, c.until);
    CaptureStdout();
    murve::write_color_image(link, default_image());
    std::string expected;
    for (std::size_t index : c.echoed) {
      if (index >= 2 && expected.find("0c2") == std::string::npos) {
        expected += c.errors_before_group_b;
      }
      expected += k_default_write_commands[index];
    }
    expected += c.errors_after_group_b;
    EXPECT_EQ(GetCapturedStdout(), expected);
  }
}

TEST(WriteColorImage, CarriesSettingsChangesAndZeroFillBytes) {
  murve::ColorImage image = default_image();
  murve::set_color_code(image, 63, 0x7f);
  murve::set_table2151_byte(image, 3, 0x99);  // a fill byte: stays 00
  murve::set_spec_byte(image, 47, 0x01);
  murvesim::MurveConsole console;
  FakeLink link(console_responder(console));
  CaptureStdout();
  murve::write_color_image(link, image);
  const std::string output = GetCapturedStdout();
  std::string code_command = "eepromex 0a2";
  for (int i = 0; i < 31; ++i) {
    code_command += " 00";
  }
  EXPECT_NE(output.find(code_command + " 7f\n"), std::string::npos);
  EXPECT_EQ(console.eeprom()[0x82 + 63], 0x7f);
  EXPECT_EQ(console.eeprom()[0x102 + 3], 0x00);
  EXPECT_EQ(console.eeprom()[0x151], 0x01);
  EXPECT_NE(output.find("eepromex 142 ff 00 ff ff ff ff 00 ff ff 00 ff ff 00 ff ff 01\n"),
            std::string::npos);
}

TEST(WriteSignature, SendsAndEchoesTheSignature) {
  murvesim::MurveConsole console;
  FakeLink link(console_responder(console));
  CaptureStdout();
  EXPECT_TRUE(murve::write_signature(link));
  EXPECT_EQ(GetCapturedStdout(), "eepromex 80 aa 55\n\n");
  EXPECT_EQ(link.events,
            (std::vector<std::string>{"send eepromex 80 aa 55\n", "sleep 50", "receive"}));
  EXPECT_EQ(console.eeprom()[0x80], 0xaa);
  EXPECT_EQ(console.eeprom()[0x81], 0x55);

  FakeLink failing(console_responder(console));
  failing.fail_sends(0);
  CaptureStdout();
  EXPECT_FALSE(murve::write_signature(failing));
  EXPECT_EQ(GetCapturedStdout(), "write error.\n");
}

}  // namespace
}  // namespace murve_test
