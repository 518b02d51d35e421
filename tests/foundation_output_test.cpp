// murvecolor run as a program for the runs that end before a port is opened: the banner, the
// usage text, and the settings-file messages, byte for byte on standard output.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/usage_text.h"
#include "test_support.h"

namespace murve_test {
namespace {

struct OutputCase {
  const char* name;
  std::vector<std::string> arguments;
  std::vector<std::pair<std::string, std::string>> files;  // created in the working folder
  std::string output_after_banner;
};

TEST(FoundationOutput, RunsThatEndBeforeThePort) {
  const std::string usage(murve::usage_text_utf8());
  const std::string config_error = "config file error\n";
  const std::vector<OutputCase> cases = {
      {"no arguments", {}, {}, usage},
      {"wrong case option", {"-COM", "5"}, {}, "invalid option [-COM]\n" + usage},
      {"unknown option first", {"-x", "-com", "5"}, {}, "invalid option [-x]\n" + usage},
      {"port 17", {"-com", "17"}, {}, usage},
      {"port missing", {"-com"}, {}, usage},
      {"empty settings path", {"-com", "5", "-config", ""}, {}, usage},
      {"missing settings file",
       {"-com", "5", "-config", "missing.cfg"},
       {},
       "open error.[missing.cfg]\n"},
      {"bad settings line",
       {"-com", "5", "-config", "bad.cfg"},
       {{"bad.cfg", "x1 00\n"}},
       "??? [x1]\n" + config_error},
      {"bad line after good ones",
       {"-com", "16", "-config", "bad.cfg"},
       {{"bad.cfg", "# colours\nc3 5a\r\nc64 7f\nzz\n"}},
       "??? [c64]\n" + config_error},
      // Without -config the file murve_color.cfg in the working folder is read.
      {"default settings file missing", {"-com", "5"}, {}, "open error.[murve_color.cfg]\n"},
      {"default settings file read",
       {"-com", "1"},
       {{"murve_color.cfg", "cspec 00\nCSPEC 00\n"}},
       "??? [CSPEC]\n" + config_error},
  };
  for (const OutputCase& c : cases) {
    TempDir dir;
    for (const auto& [name, contents] : c.files) {
      write_file(dir.file(name), contents);
    }
    const ProcessResult run = run_murvecolor(c.arguments, {}, dir.path());
    EXPECT_FALSE(run.timed_out) << c.name;
    EXPECT_EQ(run.exit_status, 0) << c.name;
    EXPECT_EQ(run.output, k_banner + c.output_after_banner) << c.name;
  }
}

}  // namespace
}  // namespace murve_test
