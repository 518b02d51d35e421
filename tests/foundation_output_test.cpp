// murvecolor run as a program for the runs that end before a port is opened: the banner, the
// usage text, and the settings-file messages, byte for byte on standard output.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
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
  std::string output_after_banner;                         // ending in "...": what it begins with
  std::string error;                // the one line on standard error; "" none
  bool answers_a_question = false;  // --help, --version: exit status 0 whatever else is there
};

TEST(FoundationOutput, RunsThatEndBeforeThePort) {
  const std::string usage(murve::usage_text_utf8());
  const std::string config_error = "config file error\n";
  const std::string must_begin = ": a line must begin with #, c0 to c63, c2608, c2151 or cspec, ";
  const std::vector<OutputCase> cases = {
      {"no arguments",
       {},
       {},
       usage,
       "-com needs a port number from 1 to 16 (or -port names the port)"},
      {"wrong case option",
       {"-COM", "5"},
       {},
       "invalid option [-COM]\n" + usage,
       "unknown option -COM"},
      {"unknown option first",
       {"-x", "-com", "5"},
       {},
       "invalid option [-x]\n" + usage,
       "unknown option -x"},
      // An option spelled with two dashes is refused, but a verdict asked so is still asked.
      {"two dashes",
       {"--verify", "-com", "5"},
       {},
       "invalid option [--verify]\n" + usage,
       "unknown option --verify: options take one dash (-verify)"},
      // A verdict option's name as a value asks for no verdict.
      {"-list as a file name",
       {"-com", "99", "-config", "-list"},
       {},
       usage,
       "-com needs a port number from 1 to 16, not 99: -port PATH names any port"},
      {"-verify takes no value",
       {"-com", "5", "-verify", "7"},
       {},
       "invalid option [7]\n" + usage,
       "unknown option 7"},
      {"port 17",
       {"-com", "17"},
       {},
       usage,
       "-com needs a port number from 1 to 16, not 17: -port PATH names any port"},
      {"port missing",
       {"-com"},
       {},
       usage,
       "-com needs a port number from 1 to 16 (or -port names the port)"},
      // The later of -com and -port stands.
      {"-com after -port",
       {"-port", "/dev/null", "-com", "0"},
       {},
       usage,
       "-com needs a port number from 1 to 16, not 0: -port PATH names any port"},
      {"-port without a port",
       {"-port", ""},
       {},
       usage,
       "-port needs a port, such as /dev/ttyUSB0"},
      {"a USB selector that is none",
       {"-port", "usb:zz:yy"},
       {},
       usage,
       "-port usb:zz:yy: zz:yy is not a vendor and a product ID, which are four hex digits each, "
       "as in usb:1a86:7523"},
      {"a rate termios has not",
       {"-com", "5", "-baud", "9601"},
       {},
       usage,
       "-baud takes one of 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, "
       "19200, 38400, 57600, 115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, "
       "1500000, 2000000, 2500000, 3000000, 3500000, 4000000, not 9601"},
      {"empty settings path", {"-com", "5", "-config", ""}, {}, usage, "-config needs a file name"},
      {"-n with -list",
       {"-n", "-list"},
       {},
       usage,
       "-n opens no port, so it does not go with -list"},
      {"missing settings file",
       {"-com", "5", "-config", "missing.cfg"},
       {},
       "open error.[missing.cfg]\n",
       "missing.cfg: cannot open the settings file: No such file or directory"},
      // A folder opens on Linux, but is no settings file: nothing is sent to the device.
      {"a folder as the settings file",
       {"-com", "5", "-config", "colours/"},
       {{"colours/c.cfg", ""}},
       "open error.[colours/]\n",
       "colours/: cannot open the settings file: Is a directory"},
      // Read up to the bound of a settings file, which it never reaches the end of.
      {"/dev/zero as the settings file",
       {"-com", "5", "-config", "/dev/zero"},
       {},
       "open error.[/dev/zero]\n",
       "/dev/zero: cannot open the settings file: it is larger than 1 MiB, which no settings file "
       "is"},
      {"bad settings line",
       {"-com", "5", "-config", "bad.cfg"},
       {{"bad.cfg", "x1 00\n"}},
       "??? [x1]\n" + config_error,
       "bad.cfg:1" + must_begin + "not \"x1\""},
      {"bad line after good ones",
       {"-com", "16", "-config", "bad.cfg"},
       {{"bad.cfg", "# colours\nc3 5a\r\nc64 7f\nzz\n"}},
       "??? [c64]\n" + config_error,
       "bad.cfg:3" + must_begin + "not \"c64\""},
      // A comment line longer than one read goes on as a line of its own: its word is listed
      // whole, and quoted shortened.
      {"the rest of a long comment",
       {"-com", "5", "-config", "long.cfg"},
       {{"long.cfg", "#" + std::string(32765, ' ') + std::string(70000, 'x') + "\n"}},
       "??? [" + std::string(32766, 'x') + "]\n" + config_error,
       "long.cfg:1" + must_begin + "not \"" + std::string(40, 'x') + "...\""},
      {"a byte-order mark",
       {"-com", "5", "-config", "bom.cfg"},
       {{"bom.cfg", "\xef\xbb\xbf#\n"}},
       "??? [\xef\xbb\xbf#]\n" + config_error,
       "bom.cfg:1" + must_begin +
           "not \"\\xef\\xbb\\xbf#\": the file begins with a UTF-8 byte-order mark; save it "
           "without one (in Notepad, as \"UTF-8\" rather than \"UTF-8 with BOM\")"},
      // Without -config the file murve_color.cfg in the working folder is read.
      {"default settings file missing",
       {"-com", "5"},
       {},
       "open error.[murve_color.cfg]\n",
       "murve_color.cfg: cannot open the settings file: No such file or directory (-config FILE "
       "names another; the example is examples/murve_color.cfg in murvecolor's source)"},
      {"default settings file read",
       {"-com", "1"},
       {{"murve_color.cfg", "cspec 00\nCSPEC 00\n"}},
       "??? [CSPEC]\n" + config_error,
       "murve_color.cfg:2" + must_begin + "not \"CSPEC\""},
      // A question is answered, and ends the command line there.
      {"--help", {"-com", "99", "--help", "-x"}, {}, "usage: murvecolor -com N...", "", true},
      {"--version", {"--version"}, {}, "murvecolor " MURVECOLOR_VERSION "\n", "", true},
  };
  for (const OutputCase& c : cases) {
    TempDir dir;
    for (const auto& [name, contents] : c.files) {
      std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
      write_file(dir.file(name), contents);
    }
    // The same standard output with -verify, but the exit status says the device holds nothing
    // verified, and a rejected command line is no success either: 2, as murvedump's.
    const bool usage_follows = c.output_after_banner.find(usage) != std::string::npos;
    const bool verdict_asked = std::find_if(c.arguments.begin(), c.arguments.end(), [](auto& a) {
                                 return a == "-verify" || a == "--verify" || a == "-n";
                               }) != c.arguments.end();
    std::vector<std::string> verify_arguments = c.arguments;
    verify_arguments.insert(verify_arguments.begin(), "-verify");
    const int failed = usage_follows ? 2 : 1;
    for (const auto& [arguments, status] :
         {std::pair{c.arguments, verdict_asked ? failed : 0},
          std::pair{verify_arguments, c.answers_a_question ? 0 : failed}}) {
      const ProcessResult run = run_murvecolor(arguments, {}, dir.path());
      EXPECT_FALSE(run.timed_out) << c.name;
      EXPECT_EQ(run.exit_status, status) << c.name;
      const std::string& expected = c.output_after_banner;
      if (expected.size() > 3 && expected.compare(expected.size() - 3, 3, "...") == 0) {
        EXPECT_EQ(run.output.substr(0, std::strlen(k_banner) + expected.size() - 3),
                  k_banner + expected.substr(0, expected.size() - 3))
            << c.name;
      } else {
        EXPECT_EQ(run.output, k_banner + expected) << c.name;
      }
      // A rejected command line's reason ends by saying where the help is.
      const std::string help = usage_follows ? "; murvecolor --help lists the options" : "";
      EXPECT_EQ(run.error_output, c.error.empty() ? "" : "murvecolor: " + c.error + help + "\n")
          << c.name;
    }
  }
}

}  // namespace
}  // namespace murve_test
