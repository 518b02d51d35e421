// murvecolor run as a program, against murvesim on a real pseudo-terminal.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "device/readback.h"
#include "sim/murve_device.h"
#include "test_support.h"

namespace murve_test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";
constexpr const char* k_signature = "eepromex 80 aa 55\n";

std::string default_writes() {
  std::string all;
  for (const std::string& command : k_default_write_commands) {
    all += command;
  }
  return all;
}

std::string read_commands() {
  return "eepromex read 80\neepromex read a0\neepromex read c0\neepromex read e0\n"
         "eepromex read 100\neepromex read 120\neepromex read 140\n";
}

// The listing the tool prints when the blocks in `accepted` were read back from `eeprom`.
std::string expected_listing(const std::string& eeprom, std::vector<int> accepted) {
  murve::ReadbackImage image{};
  for (int block : accepted) {
    const std::size_t first = 0x80 + 32 * static_cast<std::size_t>(block);
    std::copy(eeprom.begin() + static_cast<std::ptrdiff_t>(first),
              eeprom.begin() + static_cast<std::ptrdiff_t>(first + 32), image.begin() + first);
  }
  CaptureStdout();
  murve::print_verify_listing(image);
  return GetCapturedStdout();
}

// The EEPROM an erased device holds after the "eepromex ADDR BYTE..." lines echoed in `output`.
std::string eeprom_after_echoed_commands(const std::string& output) {
  std::string eeprom(512, '\xff');
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("eepromex ", 0) != 0) {
      continue;
    }
    std::istringstream words(line);
    std::string word;
    std::string address;
    if (!(words >> word) || word != "eepromex" || !(words >> address) || address == "read") {
      continue;
    }
    std::size_t at = std::stoul(address, nullptr, 16);
    while (words >> word) {
      eeprom[at++] = static_cast<char>(std::stoul(word, nullptr, 16));
    }
  }
  return eeprom;
}

// True when every byte the device holds other than erased ff is one an echoed command named: a
// command sent just before a hang-up may never have been stored.
bool holds_only_echoed_bytes(const std::string& eeprom, const std::string& output) {
  const std::string named = eeprom_after_echoed_commands(output);
  for (std::size_t i = 0; i < eeprom.size(); ++i) {
    if (eeprom[i] != named[i] && eeprom[i] != '\xff') {
      return false;
    }
  }
  return eeprom.size() == 512;
}

struct RunAgainst {
  TempDir dir;
  std::unique_ptr<SimulatedDevice> device;
  ProcessResult run;

  explicit RunAgainst(const std::vector<std::string>& sim_options, const std::string& settings = "",
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    write_file(dir.file("settings.cfg"), settings);
    device = std::make_unique<SimulatedDevice>(dir, sim_options);
    if (!device->started()) {
      return;
    }
    run = run_process({MURVECOLOR_EXE, "-com", "5", "-config", dir.file("settings.cfg")},
                      {device->com5_variable()}, timeout);
  }
};

std::string identify_reply() {
  return murvesim::help_banner(true) + "> ";
}

TEST(EndToEnd, CompleteRunWithTheDefaultImage) {
  RunAgainst r({});
  ASSERT_TRUE(r.device->started());
  EXPECT_EQ(r.run.exit_status, 0);
  const std::string eeprom = r.device->eeprom();
  EXPECT_EQ(r.run.output, k_banner + identify_reply() + "\n" + default_writes() + k_signature +
                              "\n" + expected_listing(eeprom, {0, 1, 2, 3, 4, 5, 6}) + "\n");
  // The device holds what the echoed commands say, and nothing else changed.
  EXPECT_EQ(eeprom, eeprom_after_echoed_commands(r.run.output));
  // What went over the line is exactly the commands, no byte added or changed.
  EXPECT_EQ(r.device->received(), "\rh\r" + default_writes() + k_signature + read_commands());
}

TEST(EndToEnd, SettingsFileChangesWhatIsWritten) {
  RunAgainst r({}, "# two changes\nc3 = 7e\nc2151 01 02 03 04\ncspec 41,42\n");
  ASSERT_TRUE(r.device->started());
  const std::string eeprom = r.device->eeprom();
  EXPECT_EQ(eeprom.substr(0x82 + 3, 1), "\x7e");
  EXPECT_EQ(eeprom.substr(0x102, 5), std::string("\x01\x02\x03\x00\x04", 5));
  EXPECT_EQ(eeprom.substr(0x122, 3), std::string("\x41\x42\xff", 3));
  EXPECT_NE(r.run.output.find("eepromex 102 01 02 03 00 04 20 3f 00 "), std::string::npos);
  EXPECT_EQ(eeprom, eeprom_after_echoed_commands(r.run.output));
  EXPECT_NE(r.run.output.find("0120: 3f 00 41 42 ff 00"), std::string::npos) << r.run.output;
}

TEST(EndToEnd, PortThatCannotBeOpenedGivesTwoEmptyLines) {
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  write_file(dir.file("plain-file"), "not a tty");
  SimulatedDevice held(dir);
  ASSERT_TRUE(held.started());
  // Another program holding the port: flock is what cooperating serial programs take.
  const int holder = open(held.link_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  // A program that takes the tty with TIOCEXCL alone, which root's open would get past.
  TempDir other_dir;
  SimulatedDevice exclusive(other_dir);
  ASSERT_TRUE(exclusive.started());
  const int exclusive_holder = open(exclusive.link_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(exclusive_holder, 0);
  ASSERT_EQ(ioctl(exclusive_holder, TIOCEXCL), 0);
  const std::vector<std::pair<const char*, std::string>> ports = {
      {"absent", dir.file("no-such-port")},
      {"not a tty", "/dev/null"},
      {"a plain file", dir.file("plain-file")},
      {"locked by another program", held.link_path()},
      {"held exclusively by another program", exclusive.link_path()},
  };
  for (const auto& [name, path] : ports) {
    SCOPED_TRACE(name);
    const ProcessResult run = run_murvecolor({"-com", "5", "-config", dir.file("settings.cfg")},
                                             {"MURVECOLOR_COM5=" + path});
    EXPECT_EQ(run.output, std::string(k_banner) + "\n\n");
    EXPECT_EQ(run.exit_status, 0);
  }
  // The failed attempt left the other program's hold as it was.
  int still_exclusive = 0;
  EXPECT_EQ(ioctl(exclusive_holder, TIOCGEXCL, &still_exclusive), 0);
  EXPECT_EQ(still_exclusive, 1);
  close(exclusive_holder);
  close(holder);
  EXPECT_EQ(held.received(), "");
  EXPECT_EQ(exclusive.received(), "");
}

TEST(EndToEnd, PortNumberPicksItsOwnVariable) {
  RunAgainst r({});
  ASSERT_TRUE(r.device->started());
  const ProcessResult other = run_murvecolor(
      {"-com", "12", "-config", r.dir.file("settings.cfg")},
      {"MURVECOLOR_COM1=" + r.device->link_path(), "MURVECOLOR_COM12=" + r.device->link_path()});
  EXPECT_NE(other.output.find("Verify..\n"), std::string::npos);
  // An empty variable falls back to /dev/ttyS<n-1>, which is no pty of ours.
  const ProcessResult unmapped =
      run_murvecolor({"-com", "16", "-config", r.dir.file("settings.cfg")}, {"MURVECOLOR_COM16="});
  EXPECT_EQ(unmapped.output.find("Verify.."), std::string::npos);
}

TEST(EndToEnd, DeviceThatIsNotAMurve) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"banner without MURVE", {"--no-murve"}, murvesim::help_banner(false) + "> "},
      {"silent device", {"--silent"}, ""},
      {"NUL before every reply", {"--nul"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunAgainst r(c.options, "", std::chrono::seconds(10));
    ASSERT_TRUE(r.device->started());
    EXPECT_FALSE(r.run.timed_out);
    EXPECT_EQ(r.run.output, k_banner + c.reply + "\nMURVE(6183) not found.\n\n");
    EXPECT_EQ(r.device->received(), "\rh\r");
    EXPECT_EQ(r.device->eeprom(), std::string(512, '\xff'));
  }
}

TEST(EndToEnd, HangUpEndsTheRunCleanly) {
  const std::string write_error = "write error.\n";
  struct Case {
    const char* name;
    int hangup_after;
    std::string after_identify;
    std::vector<int> blocks_listed;
  };
  const std::vector<Case> cases = {
      {"at the first write",
       2,
       k_default_write_commands[0] + write_error + write_error + write_error,
       {}},
      {"at the signature", 9, default_writes() + k_signature + "\n" + write_error + "LISTING", {}},
      {"at the third read",
       12,
       default_writes() + k_signature + "\n" + write_error + "LISTING",
       {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunAgainst r({"--hangup-after", std::to_string(c.hangup_after)}, "", std::chrono::seconds(10));
    ASSERT_TRUE(r.device->started());
    EXPECT_FALSE(r.run.timed_out);
    EXPECT_EQ(r.run.exit_status, 0);
    std::string expected = k_banner + identify_reply() + "\n" + c.after_identify + "\n";
    const std::size_t listing_at = expected.find("LISTING");
    if (listing_at != std::string::npos) {
      expected.replace(listing_at, 7, expected_listing(r.device->eeprom(), c.blocks_listed));
    }
    EXPECT_EQ(r.run.output, expected);
    EXPECT_TRUE(holds_only_echoed_bytes(r.device->eeprom(), r.run.output));
  }
}

TEST(EndToEnd, ReadBackCopesWithTheWayRepliesArrive) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<int> blocks_listed;
  };
  // In the default image only 0x0a0-0x0bf holds no byte with a letter digit.
  const std::vector<Case> cases = {
      {"replies in halves 40 ms apart", {"--split", "40"}, {0, 1, 2, 3, 4, 5, 6}},
      {"replies 200 ms late", {"--delay", "200"}, {0, 1, 2, 3, 4, 5, 6}},
      {"a line of 9600 baud", {"--baud", "9600"}, {0, 1, 2, 3, 4, 5, 6}},
      {"echo of every character", {"--echo"}, {0, 1, 2, 3, 4, 5, 6}},
      {"upper-case hex", {"--upper-hex"}, {1}},
      {"CR LF line ends", {"--crlf"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunAgainst r(c.options, "", std::chrono::seconds(30));
    ASSERT_TRUE(r.device->started());
    EXPECT_FALSE(r.run.timed_out);
    const std::string eeprom = r.device->eeprom();
    EXPECT_EQ(eeprom, eeprom_after_echoed_commands(r.run.output));
    const std::size_t verify = r.run.output.find("Verify..\n");
    ASSERT_NE(verify, std::string::npos) << r.run.output;
    EXPECT_EQ(r.run.output.substr(verify), expected_listing(eeprom, c.blocks_listed) + "\n");
  }
}

TEST(EndToEnd, FloodOfMoreThanOneBufferIsReadInParts) {
  RunAgainst r({"--flood", "6000"});
  ASSERT_TRUE(r.device->started());
  const std::string& output = r.run.output;
  const std::size_t reply_end = output.find("\neepromex 082 ");
  ASSERT_NE(reply_end, std::string::npos) << output;
  const std::string reply = output.substr(std::strlen(k_banner), reply_end - std::strlen(k_banner));
  EXPECT_LE(reply.size(), 4095u);
  EXPECT_EQ(reply.rfind("MURVE Pro", 0), 0u);
  // The rest of the flood went with the writes' replies; the run went on to the end.
  EXPECT_NE(output.find(default_writes() + k_signature + "\n"), std::string::npos);
  EXPECT_EQ(r.device->eeprom(), eeprom_after_echoed_commands(output));
  EXPECT_NE(output.find(expected_listing(r.device->eeprom(), {0, 1, 2, 3, 4, 5, 6})),
            std::string::npos);
}

TEST(EndToEnd, PortSettingsAreGivenBackAsFound) {
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  SimulatedDevice device(dir);
  ASSERT_TRUE(device.started());
  const int observer = open(device.link_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(observer, 0);
  // A cooked line at 19200 baud with hardware flow control, as a user might have left it.
  termios before{};
  ASSERT_EQ(tcgetattr(observer, &before), 0);
  before.c_iflag = ICRNL | IXON;
  before.c_oflag = OPOST | ONLCR;
  before.c_lflag = ICANON | ECHO | ECHOE | ISIG;
  before.c_cflag = CS8 | CREAD | CRTSCTS | HUPCL;
  cfsetispeed(&before, B19200);
  cfsetospeed(&before, B19200);
  ASSERT_EQ(tcsetattr(observer, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(observer, &before), 0);

  const ProcessResult run =
      run_murvecolor({"-com", "5", "-config", dir.file("settings.cfg")}, {device.com5_variable()});
  EXPECT_NE(run.output.find("Verify..\n"), std::string::npos);
  // Raw while in use: the commands reached the device unchanged, nothing echoed back.
  EXPECT_EQ(device.received(), "\rh\r" + default_writes() + k_signature + read_commands());

  termios after{};
  ASSERT_EQ(tcgetattr(observer, &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
  close(observer);
}

TEST(EndToEnd, SignalsGiveThePortBackBeforeTheToolDies) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    SimulatedDevice device(dir, {"--silent"});
    ASSERT_TRUE(device.started());
    const int observer = open(device.link_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(observer, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(observer, &before), 0);
    before.c_lflag = ICANON | ECHO;
    ASSERT_EQ(tcsetattr(observer, TCSANOW, &before), 0);
    // The silent device keeps the tool waiting for its wake reply when the signal comes.
    const ProcessResult run =
        run_process({MURVECOLOR_EXE, "-com", "5", "-config", dir.file("settings.cfg")},
                    {device.com5_variable()}, std::chrono::seconds(10), "",
                    {signal_number, std::chrono::milliseconds(400)});
    EXPECT_EQ(run.term_signal, signal_number);
    termios after{};
    ASSERT_EQ(tcgetattr(observer, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    close(observer);
  }
}

}  // namespace
}  // namespace murve_test
