#include "device/device_programming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "device/readback.h"
#include "fake_link.h"
#include "settings/color_image.h"
#include "test_support.h"

namespace murve_test {
namespace {

murve::ColorImage default_image() {
  return murve::build_default_image();
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) {
    all += line;
  }
  return all;
}

// Replies to the wake byte with a prompt and to "h\r" with `banner`, in the pieces given.
FakeLink::ReplyPlan banner_replies(std::vector<ReplyPiece> banner) {
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
  using murve::IdentifyResult;
  struct Case {
    const char* name;
    std::vector<ReplyPiece> wake_reply;
    std::vector<ReplyPiece> banner;
    IdentifyResult result;
    std::string reply;  // left in the link for the caller to print
  };
  const std::vector<ReplyPiece> prompt = {{0, "\n> "}};
  const std::vector<Case> cases = {
      {"names MURVE Pro",
       prompt,
       {{2, "MURVE Pro\n> "}},
       IdentifyResult::identified,
       "MURVE Pro\n> "},
      {"MURVE inside other text", prompt, {{2, "xMURVEx"}}, IdentifyResult::identified, "xMURVEx"},
      {"lower case does not count",
       prompt,
       {{2, "murve pro\n> "}},
       IdentifyResult::not_murve,
       "murve pro\n> "},
      {"silent device", {}, {}, IdentifyResult::no_reply, ""},
      {"NUL hides what follows",
       prompt,
       {{2, std::string("ok\0MURVE", 8)}},
       IdentifyResult::not_murve,
       "ok"},
      // A banner that arrives in pieces is judged and printed whole, to the end of the line that
      // names the device, not by its first bytes.
      {"banner still arriving",
       prompt,
       {{2, "Welcome to the "}, {60, "MURVE Pro\n> "}},
       IdentifyResult::identified,
       "Welcome to the MURVE Pro\n> "},
      {"MURVE line still arriving",
       prompt,
       {{2, "MURVE"}, {50, " Pro (6183)"}, {99, "\r\n"}},
       IdentifyResult::identified,
       "MURVE Pro (6183)\r\n"},
      // The rest of a wake reply still coming on a slow line is dropped, not printed before the
      // banner.
      {"wake reply still arriving",
       {{0, "--"}, {5, "---"}, {9, "--\r\n"}, {12, "> "}},
       {{2, "MURVE Pro\n"}},
       IdentifyResult::identified,
       "MURVE Pro\n"},
      {"wake reply after the sleep",
       {{30, "--"}, {45, "-\r\n> "}},
       {{2, "MURVE Pro\n"}},
       IdentifyResult::identified,
       "MURVE Pro\n"},
      {"wake reply's prompt 50 ms after its line",
       {{0, "\r\n"}, {50, "> "}},
       {{2, "MURVE Pro\n"}},
       IdentifyResult::identified,
       "MURVE Pro\n"},
      // The wake's answer taken for h's: the prompt alone, or what came after the wake's wait.
      {"prompt alone for h", prompt, {{2, "\r\n> "}}, IdentifyResult::late_reply, "\r\n> "},
      {"every answer 1.1 s late",
       {{1100, "-\n> "}},
       {{1100, "MURVE"}},
       IdentifyResult::late_reply,
       "-\n> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLink link(
        [&c](const std::string& sent) { return sent == "h\r" ? c.banner : c.wake_reply; });
    murve::Dialogue dialogue(link);
    const murve::Identification identification = murve::identify_device(dialogue);
    EXPECT_EQ(identification.result, c.result);
    EXPECT_EQ(std::string(dialogue.reply()), c.reply);
    EXPECT_EQ(link.sent, (std::vector<std::string>{"\r", "h\r"}));
  }
}

// At full speed the wake's reply is over long before its sleep ends, and costs no wait.
TEST(IdentifyDevice, TakesTenMillisecondsForTheWakeAtFullSpeed) {
  FakeLink link(banner_replies({{0, "MURVE Pro\n> "}}));
  murve::Dialogue dialogue(link);
  ASSERT_EQ(murve::identify_device(dialogue).result, murve::IdentifyResult::identified);
  EXPECT_EQ(link.now_ms, 10 + 10);
  EXPECT_EQ(link.events.back(), "receive");
  EXPECT_EQ(std::count(link.events.begin(), link.events.end(), "sleep 10"), 1);
}

TEST(IdentifyDevice, FailedWriteEndsIdentification) {
  for (int failing : {0, 1}) {
    SCOPED_TRACE(failing);
    FakeLink link(banner_replies({{0, "MURVE Pro\n> "}}));
    link.fail_sends(failing);
    murve::Dialogue dialogue(link);
    const murve::Identification identification = murve::identify_device(dialogue);
    EXPECT_EQ(identification.result, murve::IdentifyResult::send_failed);
    EXPECT_EQ(identification.send.error.code, FakeLink::k_send_error_code);
    EXPECT_EQ(link.sent.size(), static_cast<std::size_t>(failing));
  }
}

// What the observer is told of each command: "sent ADDR", "failed ADDR" or "skipped ADDR".
struct Observed {
  std::vector<std::string> events;
  std::string echoed;  // the text of the commands sent

  murve::WriteObserver observer() {
    return [this](const murve::WriteReport& report) {
      static const char* const k_names[] = {"sent", "failed", "skipped"};
      char address[8];
      std::snprintf(address, sizeof address, "%03x", report.write.address);
      events.push_back(std::string(k_names[static_cast<int>(report.status)]) + " " + address);
      if (report.status == murve::CommandStatus::sent) {
        echoed += report.command;
      } else {
        EXPECT_EQ(report.send.failed(), report.status == murve::CommandStatus::send_failed);
      }
    };
  }
};

TEST(WriteColorImage, SendsAndReportsTheSevenDefaultCommands) {
  murvesim::MurveConsole console;
  FakeLink link(console_replies(console));
  Observed observed;
  murve::Dialogue dialogue(link);
  murve::write_color_image(dialogue, default_image(), observed.observer());
  EXPECT_EQ(observed.echoed, joined(k_default_write_commands));
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
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"first of group A",
       0,
       1,
       {"failed 082", "skipped 0a2", "sent 0c2", "sent 0e2", "sent 102", "sent 122", "sent 142"}},
      {"second of group A",
       1,
       2,
       {"sent 082", "failed 0a2", "sent 0c2", "sent 0e2", "sent 102", "sent 122", "sent 142"}},
      {"third of group B",
       4,
       5,
       {"sent 082", "sent 0a2", "sent 0c2", "sent 0e2", "failed 102", "skipped 122",
        "skipped 142"}},
      {"every command",
       0,
       -1,
       {"failed 082", "skipped 0a2", "failed 0c2", "skipped 0e2", "skipped 102", "skipped 122",
        "skipped 142"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console;
    FakeLink link(console_replies(console));
    link.fail_sends(c.first_failing, c.until);
    Observed observed;
    murve::Dialogue dialogue(link);
    murve::write_color_image(dialogue, default_image(), observed.observer());
    EXPECT_EQ(observed.events, c.events);
  }
}

TEST(WriteColorImage, CarriesSettingsChangesAndZeroFillBytes) {
  murve::ColorImage image = default_image();
  murve::set_color_code(image, 63, 0x7f);
  murve::set_table_byte(image, murve::k_table2151, 3, 0x99);  // a fill byte: stays 00
  murve::set_table_byte(image, murve::k_spec_table, 47, 0x01);
  murvesim::MurveConsole console;
  FakeLink link(console_replies(console));
  Observed observed;
  murve::Dialogue dialogue(link);
  murve::write_color_image(dialogue, image, observed.observer());
  std::string code_command = "eepromex 0a2";
  for (int i = 0; i < 31; ++i) {
    code_command += " 00";
  }
  EXPECT_NE(observed.echoed.find(code_command + " 7f\n"), std::string::npos);
  EXPECT_EQ(console.eeprom()[0x82 + 63], 0x7f);
  EXPECT_EQ(console.eeprom()[0x102 + 3], 0x00);
  EXPECT_EQ(console.eeprom()[0x151], 0x01);
  EXPECT_NE(observed.echoed.find("eepromex 142 ff 00 ff ff ff ff 00 ff ff 00 ff ff 00 ff ff 01\n"),
            std::string::npos);
}

TEST(WriteSignature, SendsAndReportsTheSignature) {
  murvesim::MurveConsole console;
  FakeLink link(console_replies(console));
  Observed observed;
  murve::Dialogue dialogue(link);
  EXPECT_FALSE(murve::write_signature(dialogue, observed.observer()).failed());
  EXPECT_EQ(observed.echoed, "eepromex 80 aa 55\n");
  EXPECT_EQ(link.events,
            (std::vector<std::string>{"send eepromex 80 aa 55\n", "sleep 50", "receive"}));
  EXPECT_EQ(console.eeprom()[0x80], 0xaa);
  EXPECT_EQ(console.eeprom()[0x81], 0x55);

  FakeLink failing(console_replies(console));
  failing.fail_sends(0);
  Observed failed;
  murve::Dialogue failing_dialogue(failing);
  EXPECT_EQ(murve::write_signature(failing_dialogue, failed.observer()).error.code,
            FakeLink::k_send_error_code);
  EXPECT_EQ(failed.events, (std::vector<std::string>{"failed 080"}));
}

// A whole run's dialogue with every reply in two halves 40 ms apart.
TEST(WholeDialogue, RepliesInHalvesFortyMillisecondsApart) {
  murvesim::MurveConsole console;
  const FakeLink::ReplyPlan whole = console_replies(console);
  FakeLink link([&whole](const std::string& sent) {
    const std::string reply = whole(sent)[0].bytes;
    return std::vector<ReplyPiece>{{0, reply.substr(0, reply.size() / 2)},
                                   {40, reply.substr(reply.size() / 2)}};
  });
  murve::Dialogue dialogue(link);
  ASSERT_EQ(murve::identify_device(dialogue).result, murve::IdentifyResult::identified);
  // The banner whole, after what was left of the wake's reply.
  EXPECT_TRUE(std::string(dialogue.reply()).ends_with(murvesim::help_banner(true) + "> "));
  Observed observed;
  murve::write_color_image(dialogue, default_image(), observed.observer());
  EXPECT_FALSE(murve::write_signature(dialogue, observed.observer()).failed());
  EXPECT_EQ(observed.echoed, joined(k_default_write_commands) + "eepromex 80 aa 55\n");
  murve::ReadbackImage image{};
  EXPECT_TRUE(murve::read_back(dialogue, image).all_accepted());
  EXPECT_TRUE(
      std::equal(image.begin() + 0x80, image.begin() + 0x160, console.eeprom().begin() + 0x80));
}

}  // namespace
}  // namespace murve_test
