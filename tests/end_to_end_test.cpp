// murvecolor run as a program, against murvesim on a real pseudo-terminal.

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <thread>

#include "app/verification.h"
#include "device/readback.h"
#include "sim/murve_console.h"
#include "test_machine.h"
#include "test_support.h"

namespace murve_test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

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

// The listing the tool prints when block i of the read-back holds what `shown[i]` says: a digit
// names the EEPROM block read back there, '-' a block that lists as zeros.
std::string expected_listing(const std::string& eeprom, const std::string& shown) {
  murve::ReadbackImage image{};
  for (std::size_t block = 0; block < shown.size(); ++block) {
    if (shown[block] == '-') {
      continue;
    }
    const std::size_t from = 0x80 + 32 * static_cast<std::size_t>(shown[block] - '0');
    std::copy(eeprom.begin() + static_cast<std::ptrdiff_t>(from),
              eeprom.begin() + static_cast<std::ptrdiff_t>(from + 32),
              image.begin() + static_cast<std::ptrdiff_t>(0x80 + 32 * block));
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

std::string all_commands() {
  return "\rh\r" + default_writes() + k_signature + read_commands();
}

struct RunAgainst {
  TempDir dir;
  std::unique_ptr<SimulatedDevice> device;
  ProcessResult run;

  explicit RunAgainst(const std::vector<std::string>& sim_options,
                      const std::string& settings = "") {
    write_file(dir.file("settings.cfg"), settings);
    device = std::make_unique<SimulatedDevice>(dir, sim_options);
    if (!device->started()) {
      return;
    }
    run = run_process(murvecolor_command({"-com", "5", "-config", dir.file("settings.cfg")}),
                      {device->com5_variable()}, run_bound(std::chrono::seconds(20)));
  }
};

std::string identify_reply() {
  return murvesim::help_banner(true) + "> ";
}

// A line mode a user might have left the port in. With `echo` a tty in it would send every
// byte the device sends straight back to it.
termios cooked_mode(int observer, bool echo) {
  termios mode{};
  tcgetattr(observer, &mode);
  mode.c_iflag = ICRNL | IXON;
  mode.c_oflag = OPOST | ONLCR;
  mode.c_lflag = echo ? ICANON | ECHO | ECHOE | ISIG : ICANON;
  mode.c_cflag = CS8 | CREAD | CRTSCTS | HUPCL;
  cfsetispeed(&mode, B19200);
  cfsetospeed(&mode, B19200);
  return mode;
}

// Holds the device's port open beside the tool, in a mode of its own, to see what the tool
// leaves behind on it.
class PortObserver {
 public:
  explicit PortObserver(const std::string& path, bool echo = false)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    const termios mode = cooked_mode(fd_, echo);
    if (fd_ < 0 || tcsetattr(fd_, TCSANOW, &mode) != 0 || tcgetattr(fd_, &before_) != 0) {
      close_fd();
    }
  }
  ~PortObserver() { close_fd(); }
  PortObserver(const PortObserver&) = delete;
  PortObserver& operator=(const PortObserver&) = delete;

  bool ready() const { return fd_ >= 0; }

  // Whether the port has the mode it had before the run, and is no longer held exclusively.
  testing::AssertionResult given_back() const {
    termios after{};
    int exclusive = 1;
    if (tcgetattr(fd_, &after) != 0 || ioctl(fd_, TIOCGEXCL, &exclusive) != 0) {
      return testing::AssertionFailure() << "the port can't be asked: " << std::strerror(errno);
    }
    if (after.c_iflag != before_.c_iflag || after.c_oflag != before_.c_oflag ||
        after.c_cflag != before_.c_cflag || after.c_lflag != before_.c_lflag ||
        cfgetospeed(&after) != cfgetospeed(&before_) ||
        std::memcmp(after.c_cc, before_.c_cc, sizeof after.c_cc) != 0) {
      return testing::AssertionFailure() << "the line mode was not given back";
    }
    if (exclusive != 0) {
      return testing::AssertionFailure() << "the port is still held exclusively";
    }
    return testing::AssertionSuccess();
  }

 private:
  void close_fd() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

  int fd_;
  termios before_{};
};

// Whether `output` is `expected` with its "{any}", if it has one, standing for any text.
testing::AssertionResult output_matches(const std::string& output, const std::string& expected) {
  const std::size_t any = expected.find("{any}");
  const std::string head = expected.substr(0, any);
  const std::string tail = any == std::string::npos ? "" : expected.substr(any + 5);
  const bool matches = any == std::string::npos ? output == expected
                                                : output.size() >= head.size() + tail.size() &&
                                                      output.compare(0, head.size(), head) == 0 &&
                                                      output.compare(output.size() - tail.size(),
                                                                     tail.size(), tail) == 0;
  if (matches) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure()
         << "output:\n[" << output << "]\nexpected:\n[" << expected << "]";
}

bool test_wrapped() {
  return std::getenv("MURVECOLOR_TEST_WRAPPER") != nullptr;
}

// The command in a mount namespace of its own whose /dev holds only the pseudo-terminals (and
// /dev/null): the machine's own serial ports are out of its sight. `then` is shell commands run
// in it before the command. Empty unless run as root.
std::vector<std::string> where_only_ptys_are_seen(const std::vector<std::string>& command,
                                                  const std::string& then = "") {
  if (geteuid() != 0) {
    return {};
  }
  std::vector<std::string> argv = {"unshare",
                                   "-m",
                                   "sh",
                                   "-c",
                                   "set -e; mount --make-rprivate /; keep=$(mktemp -d); "
                                   "mkdir $keep/pts; mount --bind /dev/pts $keep/pts; "
                                   "touch $keep/null; mount --bind /dev/null $keep/null; "
                                   "mount -t tmpfs none /dev; mkdir /dev/pts; "
                                   "mount --move $keep/pts /dev/pts; touch /dev/null; "
                                   "mount --move $keep/null /dev/null; " +
                                       then + (then.empty() ? "" : "; ") + "exec \"$@\"",
                                   "sh"};
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

// A settings file that reads empty leaves the defaults, whatever it is.
TEST(EndToEnd, CompleteRunWithTheDefaultImage) {
  for (const std::string settings : {"settings.cfg", "/dev/null", "fifo"}) {
    SCOPED_TRACE(settings);
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    SimulatedDevice device(dir);
    ASSERT_TRUE(device.started());
    const std::string path = settings[0] == '/' ? settings : dir.file(settings);
    std::thread writer;
    if (settings == "fifo") {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      writer = std::thread([&] { write_file(path, ""); });
    }
    const ProcessResult run =
        run_process(murvecolor_command({"-com", "5", "-config", path}), {device.com5_variable()},
                    run_bound(std::chrono::seconds(20)));
    if (writer.joinable()) {
      close(open(path.c_str(), O_RDONLY | O_NONBLOCK));  // lets go a writer no run took from
      writer.join();
    }
    EXPECT_EQ(run.exit_status, 0);
    const std::string eeprom = device.eeprom();
    EXPECT_EQ(run.output, k_banner + identify_reply() + "\n" + default_writes() + k_signature +
                              "\n" + expected_listing(eeprom, "0123456") + "\n");
    // The device holds what the echoed commands say, and nothing else changed.
    EXPECT_EQ(eeprom, eeprom_after_echoed_commands(run.output));
    // What went over the line is exactly the commands, no byte added or changed.
    EXPECT_EQ(device.received(), all_commands());
    EXPECT_EQ(run.error_output, "");
  }
}

TEST(EndToEnd, SettingsFileChangesWhatIsWritten) {
  RunAgainst r({}, "# two changes\nc3 = 7e\nc2151 01 02 03 04\ncspec 41,42\n");
  ASSERT_TRUE(r.device->started());
  EXPECT_EQ(r.run.exit_status, 0);
  const std::string eeprom = r.device->eeprom();
  EXPECT_EQ(eeprom.substr(0x82 + 3, 1), "\x7e");
  EXPECT_EQ(eeprom.substr(0x102, 5), std::string("\x01\x02\x03\x00\x04", 5));
  EXPECT_EQ(eeprom.substr(0x122, 3), std::string("\x41\x42\xff", 3));
  EXPECT_NE(r.run.output.find("eepromex 102 01 02 03 00 04 20 3f 00 "), std::string::npos);
  EXPECT_EQ(eeprom, eeprom_after_echoed_commands(r.run.output));
  EXPECT_NE(r.run.output.find("0120: 3f 00 41 42 ff 00"), std::string::npos) << r.run.output;
}

// Standard error has `parts` in this order, and each of its lines begins "murvecolor: ".
testing::AssertionResult says(const std::string& error_output,
                              const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    at = error_output.find(part, at);
    if (at == std::string::npos) {
      return testing::AssertionFailure() << "standard error lacks [" << part << "]:\n"
                                         << error_output;
    }
  }
  std::istringstream lines(error_output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("murvecolor: ", 0) != 0) {
      return testing::AssertionFailure() << "a line not murvecolor's: [" << line << "]";
    }
  }
  return testing::AssertionSuccess();
}

// A copy of murvecolor that any user may run, in `dir`: the build folder may be root's alone.
std::string murvecolor_for_anyone(const TempDir& dir) {
  const std::string copy = dir.file("murvecolor");
  write_file(copy, read_file(MURVECOLOR_EXE));
  chmod(copy.c_str(), 0755);
  chmod(dir.path().c_str(), 0755);
  return copy;
}

TEST(EndToEnd, PortThatCannotBeOpenedGivesTwoEmptyLinesAndTheReason) {
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  chmod(dir.file("settings.cfg").c_str(), 0644);
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
  // A user outside the group the device belongs to: a pty is not writable by others.
  TempDir free_port_dir;
  SimulatedDevice free_port(free_port_dir);
  ASSERT_TRUE(free_port.started());
  struct stat pty {};
  ASSERT_EQ(stat(free_port.link_path().c_str(), &pty), 0);
  const passwd* pty_owner = getpwuid(pty.st_uid);
  const std::string owner_name = pty_owner != nullptr ? pty_owner->pw_name : "";
  struct PortCase {
    const char* name;
    std::string variable;  // MURVECOLOR_COM5's value
    std::vector<std::string> reason;
    bool as_nobody = false;
  };
  const std::string no_such = dir.file("no-such-port");
  const std::vector<PortCase> cases = {
      {"absent",
       no_such,
       {"cannot open " + no_such + ": No such file or directory (the path in MURVECOLOR_COM5"}},
      {"variable empty",
       "",
       {"cannot open /dev/ttyS4: ", "MURVECOLOR_COM5 is not set, so the default /dev/ttyS4"}},
      {"not a tty", "/dev/null", {"cannot open /dev/null: ", "(not a serial port)"}},
      {"a plain file", dir.file("plain-file"), {"(not a serial port)"}},
      {"locked by another program",
       held.link_path(),
       {"cannot open " + held.link_path() +
        ": Device or resource busy (in use by another program"}},
      {"held exclusively by another program",
       exclusive.link_path(),
       {"Device or resource busy (in use by another program: fuser -v"}},
      {"a user who may not open it",
       free_port.link_path(),
       // A pty's group may write to it but not read it: no group to join.
       {"cannot open " + free_port.link_path() + ": Permission denied (only its owner " +
        owner_name + " may open it"},
       true},
  };
  std::string not_run;
  for (const PortCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string flag : {"-verify", ""}) {
      std::vector<std::string> command =
          murvecolor_command({"-com", "5", "-config", dir.file("settings.cfg")});
      if (c.as_nobody) {
        command = {"setpriv",
                   "--reuid=nobody",
                   "--regid=nogroup",
                   "--clear-groups",
                   murvecolor_for_anyone(dir),
                   "-com",
                   "5",
                   "-config",
                   dir.file("settings.cfg")};
      } else if (c.variable.empty()) {
        // The default path, where this machine's own COM5 may be.
        command = where_only_ptys_are_seen(command);
      }
      // Only root can switch to another user, or hide the machine's ports; a wrapper would not
      // run as another user.
      if (command.empty() || (c.as_nobody && (geteuid() != 0 || test_wrapped()))) {
        not_run += std::string(" [") + c.name + "]";
        break;
      }
      if (!flag.empty()) {
        command.push_back(flag);
      }
      const ProcessResult run = run_process(command, {"MURVECOLOR_COM5=" + c.variable},
                                            run_bound(std::chrono::seconds(20)));
      EXPECT_EQ(run.output, std::string(k_banner) + "\n\n");
      EXPECT_EQ(run.exit_status, flag.empty() ? 0 : 1);
      EXPECT_TRUE(says(run.error_output, c.reason));
      EXPECT_EQ(std::count(run.error_output.begin(), run.error_output.end(), '\n'), 1);
    }
  }
  // The failed attempts left the other program's hold as it was.
  int still_exclusive = 0;
  EXPECT_EQ(ioctl(exclusive_holder, TIOCGEXCL, &still_exclusive), 0);
  EXPECT_EQ(still_exclusive, 1);
  close(exclusive_holder);
  close(holder);
  EXPECT_EQ(held.received(), "");
  EXPECT_EQ(exclusive.received(), "");
  EXPECT_EQ(free_port.received(), "");
  if (!not_run.empty()) {
    GTEST_SKIP() << "cases this machine can't run:" << not_run;
  }
}

TEST(EndToEnd, PortNumberPicksItsOwnVariable) {
  RunAgainst r({});
  ASSERT_TRUE(r.device->started());
  const ProcessResult other = run_murvecolor(
      {"-com", "12", "-config", r.dir.file("settings.cfg")},
      {"MURVECOLOR_COM1=" + r.dir.file("no-com1"), "MURVECOLOR_COM12=" + r.device->link_path()});
  EXPECT_NE(other.output.find("Verify..\n"), std::string::npos);
  EXPECT_EQ(other.exit_status, 0);
}

// -list probes every port a COM number maps to, all at once, in a namespace where the machine's
// own ports can't be seen: the wake and h, nothing else, and each port given back.
TEST(EndToEnd, ListProbesEveryPortAtOnce) {
  struct Listed {
    int com;
    std::vector<std::string> options;  // murvesim's
    std::string outcome;
  };
  const std::vector<Listed> ports = {
      {2, {}, "MURVE Pro (6183) serial console"}, {3, {"--no-murve"}, "answers, not a MURVE Pro"},
      {4, {"--silent"}, "no answer within 1 s"},  {6, {}, "in use by another program"},
      {7, {"--silent"}, "no answer within 1 s"},  {8, {"--silent"}, "no answer within 1 s"},
      {9, {"--silent"}, "no answer within 1 s"},  {10, {"--delay", "1100"}, "answers late"},
  };
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::unique_ptr<SimulatedDevice>> devices;
  std::vector<std::unique_ptr<PortObserver>> observers;
  std::vector<std::string> environment;
  for (const Listed& port : ports) {
    dirs.push_back(std::make_unique<TempDir>());
    devices.push_back(std::make_unique<SimulatedDevice>(*dirs.back(), port.options));
    ASSERT_TRUE(devices.back()->started());
    observers.push_back(std::make_unique<PortObserver>(devices.back()->link_path()));
    environment.push_back("MURVECOLOR_COM" + std::to_string(port.com) + "=" +
                          devices.back()->link_path());
  }
  // COM2's device by a second name: probed once, by one of them.
  const std::string second_name = dirs[0]->file("second-name");
  ASSERT_EQ(symlink(devices[0]->link_path().c_str(), second_name.c_str()), 0);
  environment.push_back("MURVECOLOR_COM12=" + second_name);
  // USB adapters that no COM number maps to, named as their driver numbers them; each names
  // itself with control characters, which the listing shows escaped, in a pipe too.
  struct Adapter {
    std::string node;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string shown;  // its description in the listing
  };
  const std::string csi = "\x9b";  // a terminal's escape-and-[ in one byte
  const std::vector<Adapter> adapters = {
      {"ttyUSB2", "FTDI\x1b]52;c;aGk=\x07", "\x1b[2J", csi + "31m",
       R"(FTDI\x1b]52;c;aGk=\x07 \x1b[2J, serial \x9b31m, USB 0403:6001)"},
      {"ttyUSB10", "\xc2" + csi + "31m", "FT232R", "A1\rB\x7f",
       R"(\xc2\x9b31m FT232R, serial A1\rB\x7f, USB 0403:6001)"},
  };
  TempDir sysfs;
  std::string then = "mount --bind " + sysfs.file("sys") + " /sys";
  std::vector<std::unique_ptr<SimulatedDevice>> adapter_devices;
  for (const Adapter& adapter : adapters) {
    const std::string usb = sysfs.file("sys/devices/" + adapter.node);
    std::filesystem::create_directories(usb + "/interface");
    std::filesystem::create_directories(sysfs.file("sys/class/tty/" + adapter.node));
    for (const auto& [name, text] :
         std::vector<std::pair<std::string, std::string>>{{"idVendor", "0403"},
                                                          {"idProduct", "6001"},
                                                          {"manufacturer", adapter.manufacturer},
                                                          {"product", adapter.product},
                                                          {"serial", adapter.serial}}) {
      write_file(usb + "/" + name, text + "\n");
    }
    std::filesystem::create_symlink("../../../devices/" + adapter.node + "/interface",
                                    sysfs.file("sys/class/tty/" + adapter.node + "/device"));
    dirs.push_back(std::make_unique<TempDir>());
    adapter_devices.push_back(std::make_unique<SimulatedDevice>(*dirs.back()));
    ASSERT_TRUE(adapter_devices.back()->started());
    then += "; ln -s " + adapter_devices.back()->link_path() + " /dev/" + adapter.node;
  }
  const int holder = open(devices[3]->link_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const std::vector<std::string> command =
      where_only_ptys_are_seen(murvecolor_command({"-list"}), then);
  if (command.empty()) {
    close(holder);
    GTEST_SKIP() << "only root can hide this machine's own serial ports from -list";
  }
  const ProcessResult run = run_process(command, environment, run_bound(std::chrono::seconds(20)));
  close(holder);
  std::istringstream lines(run.output.substr(std::min(run.output.size(), std::strlen(k_banner))));
  for (std::size_t i = 0; i < ports.size(); ++i) {
    std::string line;
    std::getline(lines, line);
    std::istringstream words(line);
    std::string com;
    std::string path;
    std::string selector;
    std::string description;
    words >> com >> path >> selector >> description;
    EXPECT_EQ(com + " " + path + " " + selector + " " + description,
              "COM" + std::to_string(ports[i].com) + " " + devices[i]->link_path() +
                  " - pseudo-terminal");
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), ports[i].outcome.size())),
              ports[i].outcome);
    EXPECT_EQ(devices[i]->received(), i == 3 ? "" : "\rh\r");
    EXPECT_TRUE(observers[i]->given_back());
  }
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.substr(0, line.find(' ')), "COM12");
  EXPECT_NE(line.find(second_name), std::string::npos);
  EXPECT_EQ(line.substr(line.size() - std::min(line.size(), ports[0].outcome.size())),
            ports[0].outcome);
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    std::getline(lines, line);
    const std::string path = "/dev/" + adapters[i].node;
    EXPECT_EQ(line.rfind("- ", 0), 0u) << line;
    EXPECT_NE(line.find("  " + path + " "), std::string::npos) << line;
    EXPECT_NE(line.find("  " + adapters[i].shown + "  "), std::string::npos) << line;
    const std::string outcome = ports[0].outcome + "; reach it with -port " + path;
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), outcome.size())), outcome);
    EXPECT_EQ(adapter_devices[i]->received(), "\rh\r");
  }
  EXPECT_EQ(run.output.find_first_of("\x1b\x07\x7f\x9b\r"), std::string::npos);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.error_output, "");
  // Four silent ports, probed one after the other, would take 8 s; at once, 2 s.
  EXPECT_LT(run.elapsed, run_bound(std::chrono::milliseconds(5000)));
  // None of them a MURVE Pro: exit status 1.
  const ProcessResult none = run_process(where_only_ptys_are_seen(murvecolor_command({"-list"})),
                                         {environment[2]}, run_bound(std::chrono::seconds(20)));
  EXPECT_EQ(none.exit_status, 1);
  EXPECT_EQ(none.error_output, "murvecolor: no MURVE Pro answered on any serial port\n");
}

// -port usb:... among the adapters that a namespace's own /sys describes: murvesim as an FTDI
// adapter with a serial number, two CH340s without one, and the two ports of an FT2232H. -list
// and the bash completion name each alike.
TEST(EndToEnd, PortNamedByItsAdapter) {
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  SimulatedDevice device(dir);
  ASSERT_TRUE(device.started());
  const std::string tree =
      "mount -t tmpfs none /sys; ln -s /proc/self/fd /dev/fd\n"
      "adapter() { d=/sys/devices/usb1/$2; i=$d/$2:1.${7:-0}; mkdir -p $i/$1 /sys/class/tty/$1; "
      "echo $3 >$d/idVendor; echo $4 >$d/idProduct; [ -z \"$5\" ] || echo $5 >$d/serial; "
      "ln -s $i/$1 /sys/class/tty/$1/device; [ -e $6 ] || touch $6; ln -s $6 /dev/$1; }\n"
      "adapter ttyUSB0 1-1 0403 6001 A1234 " +
      device.link_path() +
      "\nadapter ttyUSB1 1-2 1a86 7523 '' /dev/o1; adapter ttyUSB2 1-3.4 1a86 7523 '' /dev/o2\n"
      "adapter ttyUSB3 1-4 0403 6010 FT5X7 /dev/o3; adapter ttyUSB4 1-4 0403 6010 FT5X7 /dev/o4 1";
  const std::vector<std::string> selectors = {
      "usb:0403:6001,serial=A1234", "usb:1a86:7523,path=1-2", "usb:1a86:7523,path=1-3.4",
      "usb:0403:6010,serial=FT5X7,if=0", "usb:0403:6010,serial=FT5X7,if=1"};
  const auto candidate = [&selectors](std::size_t i, const std::string& description) {
    return "{p}: " + selectors[i] + " names the adapter on /dev/ttyUSB" + std::to_string(i) + " (" +
           description + ")\n";
  };
  const std::string ch340s = candidate(1, "USB 1a86:7523") + candidate(2, "USB 1a86:7523");
  const auto murvecolor = [&dir](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"-config", dir.file("settings.cfg")});
    return murvecolor_command(arguments);
  };
  struct Case {
    std::vector<std::string> command;
    int exit_status;
    std::string output;  // what it begins with after the banner (murvecolor's)
    std::string error;   // "{p}" the program's name
  };
  std::filesystem::create_directory(dir.file("keep"));
  const std::vector<Case> cases = {
      // Its backup is named by the adapter's serial number, which no other socket changes.
      {murvecolor({"-port", "usb:0403:6001,serial=A1234", "-backup", dir.file("keep")}), 0,
       identify_reply() + "\n" + default_writes() + k_signature + "\nVerify..\n", ""},
      {murvecolor({"-port", "usb:1a86:7523", "-verify"}), 1, "\n\n",
       "{p}: -port usb:1a86:7523 names 2 USB serial adapters, not one: each of those that follow "
       "names one alone\n" +
           ch340s},
      {murvecolor({"-port", "usb:serial=B999"}), 0, "\n\n",
       "{p}: -port usb:serial=B999 names none of the USB serial adapters attached, which follow\n" +
           candidate(0, "serial A1234, USB 0403:6001") + ch340s +
           candidate(3, "serial FT5X7, USB 0403:6010") +
           candidate(4, "serial FT5X7, USB 0403:6010")},
      {{MURVEDUMP_EXE, "-port", "usb:serial=a1234"},
       0,
       "# MURVE Pro colour settings, read by murvedump from usb:serial=a1234 (/dev/ttyUSB0) on ",
       ""},
      {{MURVEDUMP_EXE, "-port", "usb:1a86:7523"},
       1,
       "",
       "{p}: -port usb:1a86:7523 names 2 USB serial adapters, not one: each of those that follow "
       "names one alone\n" +
           ch340s},
  };
  if (where_only_ptys_are_seen({}).empty()) {
    GTEST_SKIP() << "only root can give a run a /sys of its own";
  }
  for (const Case& c : cases) {
    const bool dump = c.command[0] == MURVEDUMP_EXE;
    const ProcessResult run = run_process(where_only_ptys_are_seen(c.command, tree), {},
                                          run_bound(std::chrono::seconds(20)));
    const std::string output = dump ? c.output : k_banner + c.output;
    std::string error = c.error;
    for (std::size_t at; (at = error.find("{p}")) != std::string::npos;) {
      error.replace(at, 3, dump ? "murvedump" : "murvecolor");
    }
    EXPECT_EQ(run.exit_status, c.exit_status) << c.command[2];
    EXPECT_EQ(run.output.substr(0, output.size()), output) << c.command[2];
    EXPECT_EQ(run.error_output, error) << c.command[2];
  }
  EXPECT_EQ(device.received(),
            "\rh\r" + read_commands() + all_commands().substr(3) + "\rh\r" + read_commands());
  const auto kept = std::filesystem::directory_iterator(dir.file("keep"));
  ASSERT_NE(kept, std::filesystem::directory_iterator());
  EXPECT_EQ(kept->path().filename().string().rfind("murve-A1234-", 0), 0u) << kept->path();
  const ProcessResult completed = run_process(
      where_only_ptys_are_seen({"bash", "-c",
                                "source '" MURVECOLOR_SOURCE_DIR "/completion/murvedump'; "
                                "COMP_WORDS=(murvedump -port usb); COMP_CWORD=2; _murvedump; "
                                "printf '%s\\n' \"${COMPREPLY[@]}\""},
                               tree));
  const ProcessResult listed =
      run_process(where_only_ptys_are_seen(murvecolor_command({"-list"}), tree), {},
                  run_bound(std::chrono::seconds(20)));
  std::istringstream lines(listed.output);
  std::string line;
  std::getline(lines, line);  // the banner
  std::string in_completion;
  for (const std::string& selector : selectors) {
    std::getline(lines, line);
    EXPECT_NE(line.find("  " + selector + "  "), std::string::npos) << line;
    in_completion += selector + "\n";
  }
  EXPECT_EQ(completed.output, in_completion);
}

// A device that misbehaves in one way, and what the run prints after the banner: "{listing}"
// stands for the listing that `listed` describes (see expected_listing), "{any}" for any text.
struct FaultCase {
  const char* name;
  std::vector<std::string> options;
  std::string output;
  std::string listed = "-------";
  std::vector<std::string> errors = {};  // what standard error says, in order; {}: nothing
  bool port_survives = true;    // false when the device hangs up, which takes the pty with it
  std::size_t error_lines = 0;  // how many lines standard error has; 0: not counted
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
  return out << c.name;
}

const std::string k_listing = "{listing}";
const std::string k_not_found = "MURVE(6183) not found.\n";
const std::string k_write_error = "write error.\n";

std::string written() {
  return default_writes() + k_signature + "\n";
}

std::string identified() {
  return identify_reply() + "\n";
}

// The identify reply padded with filler in front to `size` bytes, as --reply-size sends it.
std::string padded_reply(std::size_t size) {
  return murvesim::filler(size - identify_reply().size()) + identify_reply();
}

std::string with_crlf(const std::string& text) {
  std::string crlf;
  for (char c : text) {
    crlf += c == '\n' ? "\r\n" : std::string(1, c);
  }
  return crlf;
}

std::string byte_values_1_to_255() {
  std::string values;
  for (int value = 1; value < 256; ++value) {
    values += static_cast<char>(value);
  }
  return values;
}

std::vector<std::string> stall(int after_commands) {
  // Longer than the one second a reply has to begin.
  return {"--stall-after", std::to_string(after_commands), "--stall-for", "1500"};
}

std::vector<std::string> hang_up(int after_commands) {
  return {"--hangup-after", std::to_string(after_commands)};
}

const std::string k_not_murve = "answered, but its answer to h does not name MURVE";
const std::string k_no_answer = "no answer from the device on ";
const std::string k_send_error = "write error on ";
const std::string k_eio = ": Input/output error";
const std::vector<std::string> k_hung_up_in_writes = {
    " hung up during the writes (unplugged?): the device on ",
    " now holds part of the new settings; run the same command again, or write a backup back "
    "with murvecolor -com 5 -config BACKUP-FILE"};

// Commands as the device counts them: 1 the wake, 2 the identify, 3-9 the writes, 10 the
// signature, 11-17 the reads.
std::vector<FaultCase> fault_cases() {
  const std::string none = "-------";
  const std::string all = "0123456";
  return {
      // Devices that are no MURVE, or whose identify reply can't be read.
      {"banner without MURVE",
       {"--no-murve"},
       murvesim::help_banner(false) + "> \n" + k_not_found,
       none,
       {k_not_murve}},
      {"silent device", {"--silent"}, "\n" + k_not_found, none, {k_no_answer, " within 1 s"}},
      {"NUL before every reply",
       {"--nul"},
       "\n" + k_not_found,
       none,
       {"its answer to h begins with a NUL byte, which ends it"}},
      {"NUL after 3 bytes of every reply",
       {"--nul-after", "3"},
       "MUR\n" + k_not_found,
       none,
       {"a NUL byte ended its answer to h, and the 3 bytes before it do not name MURVE"}},
      {"reply of 100000 bytes",
       {"--reply-size", "100000", "--instant"},
       murvesim::filler(4095) + "\n" + k_not_found,
       none,
       {k_not_murve}},
      // Replies the tool reads as far as they go.
      {"reply of 4095 bytes",
       {"--reply-size", "4095", "--instant"},
       padded_reply(4095) + "\n" + written() + k_listing,
       all},
      {"reply of 4096 bytes",
       {"--reply-size", "4096", "--instant"},
       padded_reply(4096).substr(0, 4095) + "\n" + written() + k_listing,
       all},
      {"6000 bytes after the banner",
       {"--flood", "6000"},
       "MURVE Pro (6183) serial console\n{any}\n" + written() + k_listing,
       all},
      {"100000 bytes after the banner",
       {"--flood", "100000", "--instant"},
       "MURVE Pro (6183) serial console\n{any}\n" + written() + k_listing,
       all},
      {"NUL in the middle of every reply",
       {"--nul-after", "40"},
       identify_reply().substr(0, 40) + "\n" + written() + k_listing,
       none,
       {"block 0x080 not read: a NUL byte ended its answer after 9 of 32 pairs",
        "block 0x140 not read"}},
      {"every byte value around every reply",
       {"--garbage"},
       byte_values_1_to_255() + identified() + written() + k_listing,
       all},
      {"replies 200 ms late", {"--delay", "200"}, identified() + written() + k_listing, all},
      // Later than the second an answer has to begin: the wake's prompt comes as h's answer.
      {"replies 1.1 s late",
       {"--delay", "1100"},
       "\n> \n" + k_not_found,
       none,
       {"the device on ", " answers later than murvecolor waits (1 s): "}},
      // The banner whole to the end of its MURVE line, and nothing of the wake's answer before it.
      {"a line of 9600 baud",
       {"--baud", "9600"},
       "MURVE Pro (6183) serial console\n{any}\n" + written() + k_listing,
       all},
      {"a long wake answer on a line of 9600 baud",
       {"--baud", "9600", "--wake-size", "300"},
       "MURVE Pro (6183) serial console\n{any}\n" + written() + k_listing,
       all},
      // The wake's "\n" and its "> " 50 ms apart: the prompt is not printed before the banner.
      {"every answer in two pieces 50 ms apart",
       {"--split", "50"},
       identified() + written() + k_listing,
       all},
      {"echo of every character", {"--echo"}, "h\r" + identified() + written() + k_listing, all},
      // In the default image only 0x0a0-0x0bf holds no byte with a letter digit.
      {"upper-case hex",
       {"--upper-hex"},
       identified() + written() + k_listing,
       "-1-----",
       {"block 0x080 not read: its answer stops at 'A' after 0 of 32 pairs",
        "block 0x0c0 not read: its answer stops at 'F' after 4 of 32 pairs"}},
      {"CR LF line ends",
       {"--crlf"},
       with_crlf(identify_reply()) + "\n" + written() + k_listing,
       none,
       {"block 0x080 not read: its answer's \"EEPROM DATA\" line ends in a carriage return"}},
      // Hang-ups in each phase: what was sent before stands, nothing more is.
      {"hang-up at the wake",
       hang_up(0),
       k_write_error,
       "",
       {" hung up before the device answered (unplugged?); nothing was written to it"},
       false},
      {"hang-up at the identify command",
       hang_up(1),
       "\n" + k_not_found,
       "",
       {" hung up before the device answered"},
       false},
      {"hang-up at the first write", hang_up(2),
       identified() + k_default_write_commands[0] + k_write_error + k_write_error + k_write_error,
       "", k_hung_up_in_writes, false, 1},
      {"hang-up at the fourth write", hang_up(5),
       identified() + k_default_write_commands[0] + k_default_write_commands[1] +
           k_default_write_commands[2] + k_default_write_commands[3] + k_write_error +
           k_write_error,
       "", k_hung_up_in_writes, false, 1},
      {"hang-up at the signature",
       hang_up(9),
       identified() + written() + k_write_error + k_listing,
       none,
       {"block 0x080 not read: ", " hung up (unplugged?)"},
       false,
       1},
      {"hang-up at the first read",
       hang_up(10),
       identified() + written() + k_write_error + k_listing,
       none,
       {"block 0x080 not read: ", " hung up (unplugged?)"},
       false,
       1},
      {"hang-up at the third read",
       hang_up(12),
       identified() + written() + k_write_error + k_listing,
       "01-----",
       {"block 0x0c0 not read: ", " hung up (unplugged?)"},
       false,
       1},
      // Stalls in each phase. A reply that comes after the tool stopped waiting for it is read as
      // the beginning of the next one, but a read reply is never listed at another block's
      // addresses: one that did not come within the second is waited out and dropped.
      {"stall at the wake", stall(0), "\n> " + identified() + written() + k_listing, all},
      {"stall at the identify command", stall(1), "\n" + k_not_found, none, {k_no_answer}},
      {"stall at the first write", stall(2), identified() + written() + k_listing, all},
      {"stall at the signature", stall(9), identified() + written() + k_listing, all},
      {"stall at the last read",
       stall(16),
       identified() + written() + k_listing,
       "012345-",
       {"block 0x140 not read: no answer within 1 s\n"}},
      // Midway between the second a reply has to begin and the end of the wait for a late one.
      {"an answer 1.8 s late to the third read",
       {"--stall-after", "12", "--stall-for", "1800"},
       identified() + written() + k_listing,
       "01-3456",
       {"block 0x0c0 not read: no answer within 1 s; an answer that came later was dropped"}},
      {"stall for good at the third read",
       {"--stall-after", "12"},
       identified() + written() + k_listing,
       "01-----",
       {"block 0x0c0 not read: no answer within 1 s\n",
        "block 0x0e0 not read: no answer within 1 s; the device has stopped answering"}},
  };
}

class EndToEndFault : public testing::TestWithParam<FaultCase> {};

// No crash and no hang; the messages of the failure; the port given back as found; and the
// device sent nothing but a prefix of the run's commands, and holds only bytes they name.
TEST_P(EndToEndFault, RunEndsCleanly) {
  const FaultCase& c = GetParam();
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  SimulatedDevice device(dir, c.options);
  ASSERT_TRUE(device.started());
  PortObserver observer(device.link_path());
  ASSERT_TRUE(observer.ready());
  const std::chrono::milliseconds bound = run_bound(std::chrono::seconds(10));
  const ProcessResult run =
      run_process(murvecolor_command({"-com", "5", "-config", dir.file("settings.cfg")}),
                  {device.com5_variable()}, bound);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);

  const std::string eeprom = device.eeprom();
  std::string expected = k_banner + c.output + "\n";
  const std::size_t listing_at = expected.find(k_listing);
  if (listing_at != std::string::npos) {
    expected.replace(listing_at, k_listing.size(), expected_listing(eeprom, c.listed));
  }
  EXPECT_TRUE(output_matches(run.output, expected));
  EXPECT_TRUE(holds_only_echoed_bytes(eeprom, run.output));
  if (c.errors.empty()) {
    EXPECT_EQ(run.error_output, "");
  } else {
    EXPECT_TRUE(says(run.error_output, c.errors));
  }
  if (c.error_lines != 0) {
    EXPECT_EQ(std::count(run.error_output.begin(), run.error_output.end(), '\n'), c.error_lines)
        << run.error_output;
  }

  const std::string received = device.received();
  EXPECT_EQ(received, all_commands().substr(0, received.size()));
  if (run.output.find(k_not_found) != std::string::npos) {
    EXPECT_EQ(received, "\rh\r");
  }
  if (c.port_survives) {
    EXPECT_TRUE(observer.given_back());
  }
}

std::string test_name(const testing::TestParamInfo<FaultCase>& info) {
  std::string name;
  bool word_start = true;
  for (const char* p = info.param.name; *p != '\0'; ++p) {
    if (std::isalnum(static_cast<unsigned char>(*p)) == 0) {
      word_start = true;
      continue;
    }
    name += word_start ? static_cast<char>(std::toupper(static_cast<unsigned char>(*p))) : *p;
    word_start = false;
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndFault, testing::ValuesIn(fault_cases()), test_name);

// The port's mode is given back as found, its rate too; -port names the port and -baud sets the
// rate for the run: the device answers h only at 57600 (the observer leaves the line at 19200).
TEST(EndToEnd, PortSettingsAreGivenBackAsFound) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;  // before -config
    bool programmed;
  };
  for (const Case& c :
       std::vector<Case>{{"-com and the rate as found", {"-com", "5"}, false},
                         {"-port and -baud 57600", {"-port", "LINK", "-baud", "57600"}, true},
                         {"-baud given before a later -com",
                          {"-baud", "57600", "-port", "x", "-com", "5"},
                          true}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    SimulatedDevice device(dir, {"--expect-baud", "57600"});
    ASSERT_TRUE(device.started());
    PortObserver observer(device.link_path(), true);
    ASSERT_TRUE(observer.ready());
    std::vector<std::string> arguments = c.arguments;
    std::replace(arguments.begin(), arguments.end(), std::string("LINK"), device.link_path());
    arguments.insert(arguments.end(), {"-config", dir.file("settings.cfg")});
    const ProcessResult run = run_murvecolor(arguments, {device.com5_variable()});
    EXPECT_EQ(run.output.find("Verify..\n") != std::string::npos, c.programmed);
    EXPECT_EQ(run.exit_status, 0);
    // Raw while in use: the commands reached the device unchanged, nothing echoed back.
    EXPECT_EQ(device.received(), c.programmed ? all_commands() : "\rh\r");
    EXPECT_TRUE(observer.given_back());
  }
}

TEST(EndToEnd, SignalsGiveThePortBackBeforeTheToolDies) {
  struct Phase {
    const char* name;
    std::vector<std::string> options;
    std::size_t received;  // the signal comes once the device has this much and is stalled
    std::string printed;   // what the run has printed by then, all of it in the log
    std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP};
    bool during_writes = false;  // standard error says what the device now holds
    bool run_again = false;      // a run a second later programs the device whole
    // {}: murvecolor -com 5 -config FILE
    std::vector<std::string> command = {};
  };
  const std::string commands = all_commands();
  std::vector<Phase> phases = {
      {"waiting for the wake reply", {"--silent"}, 1, k_banner},
      {"during the writes",
       {"--stall-after", "3"},
       commands.find("eepromex 0c2"),
       k_banner + identified() + k_default_write_commands[0],
       // SIGTRAP and SIGSYS as another process sends them, not as the kernel raises them.
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTRAP, SIGSYS},
       true},
      {"during the read-back",
       {"--stall-after", "11"},
       commands.find("eepromex read c0"),
       k_banner + identified() + written()},
      // Its late answers wait in the port for the next run, which must not take them for its own.
      {"during the writes, of a device that answers 300 ms late",
       {"--delay", "300"},
       commands.find("eepromex 0c2"),
       k_banner + identified() + k_default_write_commands[0],
       {SIGINT},
       true,
       true},
      {.name = "murvedump, waiting for the wake reply",
       .options = {"--silent"},
       .received = 1,
       .printed = "",
       .signals = {SIGQUIT, SIGTRAP, SIGSYS},
       .command = {MURVEDUMP_EXE, "-com", "5"}},
  };
  // -list only as root, which can hide this machine's own serial ports from it.
  if (auto listing = where_only_ptys_are_seen(murvecolor_command({"-list"})); !listing.empty()) {
    phases.push_back({.name = "-list, waiting for the wake reply",
                      .options = {"--silent"},
                      .received = 1,
                      .printed = k_banner,
                      .signals = {SIGQUIT},
                      .command = std::move(listing)});
  }
  for (const Phase& phase : phases) {
    for (int signal_number : phase.signals) {
      SCOPED_TRACE(std::string(phase.name) + ", signal " + std::to_string(signal_number));
      TempDir dir;
      write_file(dir.file("settings.cfg"), "");
      SimulatedDevice device(dir, phase.options);
      ASSERT_TRUE(device.started());
      PortObserver observer(device.link_path());
      ASSERT_TRUE(observer.ready());
      const auto stalled = [&] { return device.received().size() >= phase.received; };
      const std::vector<std::string> command =
          phase.command.empty()
              ? murvecolor_command({"-com", "5", "-config", dir.file("settings.cfg")})
              : phase.command;
      // In its own folder: SIGQUIT may leave a core file.
      const ProcessResult run =
          run_process(command, {device.com5_variable()}, run_bound(std::chrono::seconds(10)),
                      dir.path(), {signal_number, std::chrono::milliseconds(100), stalled});
      EXPECT_EQ(run.term_signal, signal_number);
      EXPECT_TRUE(observer.given_back());
      // Its output goes to a pipe, and yet every line printed before the signal is there.
      EXPECT_EQ(run.output, phase.printed);
      if (phase.during_writes) {
        EXPECT_TRUE(says(run.error_output,
                         {"stopped during the writes: the device on " + device.link_path() +
                          " now holds part of the new settings; run the "
                          "same command again, or write a backup back"}));
      } else {
        EXPECT_EQ(run.error_output, "");
      }
      if (phase.run_again) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const ProcessResult again =
            run_process(command, {device.com5_variable()}, run_bound(std::chrono::seconds(20)));
        EXPECT_EQ(again.output.substr(0, std::strlen(k_banner) + identified().size()),
                  k_banner + identified());
        EXPECT_EQ(device.eeprom(), eeprom_after_echoed_commands(written()));
      }
    }
  }
}

// A reader that goes away must not stop the programming halfway, and a closed standard output
// must not become the port.
// murvecolor with these arguments as a shell command line, for a shell to redirect.
std::string shell_command(const std::vector<std::string>& arguments) {
  std::string shell = "exec";
  for (const std::string& word : murvecolor_command(arguments)) {
    shell += " '" + word + "'";
  }
  return shell;
}

TEST(EndToEnd, StandardStreamsThatAreGoneChangeNothingOnTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {" | head -3", "murvecolor: cannot write to standard output: Broken pipe\n"},
      {" >&-", ""},
      {" >/dev/full", "murvecolor: cannot write to standard output: No space left on device\n"},
  };
  for (const auto& [redirection, error] : cases) {
    SCOPED_TRACE(redirection);
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    SimulatedDevice device(dir);
    ASSERT_TRUE(device.started());
    const ProcessResult run =
        run_process({"sh", "-c",
                     shell_command({"-com", "5", "-config", dir.file("settings.cfg")}) +
                         redirection + "; exit 0"},
                    {device.com5_variable()}, run_bound(std::chrono::seconds(20)));
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.error_output, error);
    EXPECT_EQ(device.received(), all_commands());
    EXPECT_EQ(device.eeprom(), eeprom_after_echoed_commands(written()));
  }
}

// On a terminal the device's bytes can't drive it: escape sequences and a lone carriage return
// are shown, not acted on. In a pipe they are the same bytes (the fault case with --garbage).
TEST(EndToEnd, ATerminalSeesTheDevicesControlCharacters) {
  TempDir dir;
  write_file(dir.file("settings.cfg"), "");
  SimulatedDevice device(dir, {"--garbage"});
  ASSERT_TRUE(device.started());
  const ProcessResult run =
      run_process({"script", "-qec",
                   shell_command({"-com", "5", "-config", dir.file("settings.cfg")}), "/dev/null"},
                  {device.com5_variable()}, run_bound(std::chrono::seconds(20)));
  EXPECT_FALSE(run.timed_out);
  EXPECT_NE(run.output.find("\\x1b\\x1c\\x1d"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
  EXPECT_NE(run.output.find("Verify.."), std::string::npos);
}

// -verify: the verdict after the listing, and the exit status a script can trust.
TEST(EndToEnd, VerifyGivesAVerdictAndAnExitStatus) {
  struct Case {
    const char* name;
    std::vector<std::string> sim_options;
    std::string flag;     // -verify, -check, or none
    std::string verdict;  // the lines between the listing and the closing empty line; {any}
    int exit_status;
    std::string eeprom = "";    // what the device holds at the start; "" erased
    std::string settings = "";  // the -config path; "" an empty file
    std::string error = "";     // what standard error says; "" not checked
  };
  const std::string unread_blocks =
      "6 blocks not read back\n0x080-0x09f: not read back\n0x0c0-0x0df: not read "
      "back\n0x0e0-0x0ff: not read back\n0x100-0x11f: not read back\n0x120-0x13f: not read "
      "back\n0x140-0x15f: not read back\n";
  const std::string programmed = eeprom_after_echoed_commands(written());
  std::string one_byte_off = programmed;
  one_byte_off[0xc4] = '\x3e';
  std::string code_off = programmed;
  code_off[0x90] = '\x02';
  const std::vector<Case> cases = {
      {"a device that stores every byte",
       {},
       "-verify",
       "verified: 210 bytes at 0x080-0x151 read back as written\n",
       0},
      {"a device that stores 0x0c4 wrong",
       {"--corrupt", "0x0c4"},
       "-verify",
       "verify failed: 1 of 210 bytes differs\n0x0c4: c2608 entry 0, byte 2: wrote 3f, read 3e\n",
       1},
      {"the same device without -verify", {"--corrupt", "0x0c4"}, "", "", 0},
      {"blocks that can't be read",
       {"--upper-hex"},
       "-verify",
       "verify failed: " + unread_blocks,
       1},
      // -check writes nothing, and compares what the device holds with the file.
      {"-check, a device that holds the file",
       {},
       "-check",
       "verified: 210 bytes at 0x080-0x151 hold the signature and the settings file\n",
       0,
       programmed},
      {"-check, one byte differs",
       {},
       "-check",
       "the device does not match the settings file: 1 of 210 bytes differs\n"
       "0x0c4: c2608 entry 0, byte 2: the settings file gives 3f, the device holds 3e\n",
       1,
       one_byte_off},
      {"-check, a colour code differs",
       {},
       "-check",
       "the device does not match the settings file: 1 of 210 bytes differs\n"
       "0x090: colour code 14: the settings file gives 03, the device holds 02\n",
       1,
       code_off},
      {"-check, an erased device",
       {},
       "-check",
       "the device does not match the settings file: 183 of 210 bytes differ\n"
       "0x080: signature, byte 0: the settings file gives aa, the device holds ff\n{any}",
       1},
      // Its first read fails (EIO): the device holds what was read, which is not the file.
      {"-verify, a file not read whole",
       {},
       "-verify",
       "no verdict: the settings file was not read whole\n",
       1,
       "",
       "/proc/self/mem",
       "read error: Input/output error; the file was not read whole, so -verify fails"},
      {"-check, a file not read whole",
       {},
       "-check",
       "no verdict: the settings file was not read whole\n",
       1,
       programmed,
       "/proc/self/mem",
       "read error: Input/output error; the file was not read whole, so -check fails"},
      {"-check, a file not read whole and a byte that differs from the lines read",
       {},
       "-check",
       "cannot tell whether the device matches the settings file: 1 of 210 bytes differs, the "
       "settings file not read whole\n"
       "0x0c4: c2608 entry 0, byte 2: the settings file gives 3f, the device holds 3e\n",
       1,
       one_byte_off,
       "/proc/self/mem"},
      {"-check, blocks that can't be read",
       {"--upper-hex"},
       "-check",
       "cannot tell whether the device matches the settings file: " + unread_blocks,
       1,
       programmed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    if (!c.eeprom.empty()) {
      write_file(dir.file("eeprom.bin"), c.eeprom);
    }
    SimulatedDevice device(dir, c.sim_options);
    ASSERT_TRUE(device.started());
    std::vector<std::string> arguments = {
        "-com", "5", "-config", c.settings.empty() ? dir.file("settings.cfg") : c.settings};
    if (!c.flag.empty()) {
      arguments.insert(arguments.begin(), c.flag);
    }
    const ProcessResult run = run_murvecolor(arguments, {device.com5_variable()});
    const std::string listing_end = "0150: ";
    const std::size_t after_listing = run.output.find('\n', run.output.find(listing_end)) + 1;
    ASSERT_NE(run.output.find(listing_end), std::string::npos) << run.output;
    EXPECT_TRUE(output_matches(run.output.substr(after_listing), c.verdict + "\n"));
    EXPECT_EQ(run.exit_status, c.exit_status);
    if (!c.error.empty()) {
      EXPECT_TRUE(says(run.error_output, {c.error}));
    }
    if (c.flag == "-check") {
      EXPECT_EQ(run.output.substr(0, run.output.find("Verify..\n")), k_banner + identified());
      EXPECT_EQ(device.received(), "\rh\r" + read_commands());
      EXPECT_EQ(device.eeprom(), c.eeprom.empty() ? std::string(512, '\xff') : c.eeprom);
    }
  }
}

// A device that answers a read, or the signature, a second time: the extra answer may be listed
// at the next block's addresses, since answers carry no address, but the verdict then says so.
TEST(EndToEnd, VerifyAgreesWithTheListingOfADeviceAnsweringTwice) {
  for (const std::string after : {"9", "11", "13"}) {
    SCOPED_TRACE("answered twice: command " + after + " + 1");
    TempDir dir;
    write_file(dir.file("settings.cfg"), "");
    SimulatedDevice device(dir, {"--twice-after", after, "--twice-gap", "15"});
    ASSERT_TRUE(device.started());
    const ProcessResult run = run_murvecolor(
        {"-com", "5", "-config", dir.file("settings.cfg"), "-verify"}, {device.com5_variable()});
    const std::string right = expected_listing(device.eeprom(), "0123456");
    const bool listed_right = run.output.find(right) != std::string::npos;
    EXPECT_NE(run.output.find("Verify..\n"), std::string::npos);
    EXPECT_EQ(run.output.find("\nverified: ") != std::string::npos, listed_right) << run.output;
    EXPECT_EQ(run.output.find("\nverify failed: ") != std::string::npos, !listed_right);
    EXPECT_EQ(run.exit_status, listed_right ? 0 : 1);
  }
}

TEST(EndToEnd, VerifyFailsEveryRunThatEndsEarly) {
  struct Case {
    const char* name;
    std::vector<std::string> sim_options;
    std::string settings;
  };
  const std::vector<Case> cases = {
      {"a silent device", {"--silent"}, ""},
      {"not a MURVE", {"--no-murve"}, ""},
      {"a hang-up at the first write", {"--hangup-after", "2"}, ""},
      {"a settings-file error", {}, "x1 00\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunAgainst plain(c.sim_options, c.settings);
    ASSERT_TRUE(plain.device->started());
    TempDir dir;
    write_file(dir.file("settings.cfg"), c.settings);
    SimulatedDevice device(dir, c.sim_options);
    ASSERT_TRUE(device.started());
    const ProcessResult verified = run_murvecolor(
        {"-com", "5", "-verify", "-config", dir.file("settings.cfg")}, {device.com5_variable()});
    EXPECT_EQ(plain.run.exit_status, 0);
    EXPECT_EQ(verified.exit_status, 1);
    // Standard output is the same with and without -verify when there is no listing.
    EXPECT_EQ(verified.output, plain.run.output);
    EXPECT_NE(verified.error_output, "");
  }
}

// -n: the commands a run would send, as the run echoes them, and the same warnings; nothing
// reaches the device. A file a run refuses prints as the run prints it, and gives 1.
TEST(EndToEnd, DryRunPrintsWhatARunWouldSend) {
  // The settings file's text ("" the example file, "-" no file), and whether a run refuses it.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},
      {"c3 1ff\ncspec 41,zz\nc2608 10 # red\n", false},
      {"x1 00\n", true},
      {"-", true}};
  for (const auto& [settings, refused] : cases) {
    SCOPED_TRACE(settings);
    TempDir dir;
    const std::string path = settings.empty()
                                 ? std::string(MURVECOLOR_SOURCE_DIR) + "/examples/murve_color.cfg"
                                 : dir.file("settings.cfg");
    if (!settings.empty() && settings != "-") {
      write_file(path, settings);
    }
    SimulatedDevice device(dir);
    ASSERT_TRUE(device.started());
    const ProcessResult dry =
        run_murvecolor({"-n", "-com", "5", "-config", path}, {device.com5_variable()});
    EXPECT_EQ(device.received(), "");
    const ProcessResult run =
        run_murvecolor({"-com", "5", "-config", path}, {device.com5_variable()});
    std::string echoed = k_banner;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
      echoed += line.rfind("eepromex ", 0) == 0 ? line + "\n" : "";
    }
    EXPECT_EQ(dry.output, refused ? run.output : echoed);
    EXPECT_EQ(dry.error_output, run.error_output);
    EXPECT_EQ(dry.exit_status, refused ? 1 : 0);
    // What -n printed is what the run then sent.
    EXPECT_EQ(device.received(),
              refused ? "" : "\rh\r" + echoed.substr(std::strlen(k_banner)) + read_commands());
  }
}

}  // namespace
}  // namespace murve_test

namespace murve_test {
namespace {

#ifdef MURVECOLOR_VM_KERNEL
constexpr const char* k_vm_kernel = MURVECOLOR_VM_KERNEL;

// Starts a command in the machine without waiting: its output, status and process id in /tmp.
// A background job would have SIGINT ignored; default-signals gives it back.
constexpr const char* k_start_run = R"run(#!/bin/sh
rm -f /tmp/run.status
( default-signals "$@" >/tmp/run.out 2>/tmp/run.err & echo $! >/tmp/run.pid; wait $!
  echo $? >/tmp/run.status ) >/dev/null 2>&1 &
)run";

// A run in the machine, on the kernel's 8250 driver: its COM2 (/dev/ttyS1) goes to a murvesim
// over a socket, /dev/ttyS2 and ttyS3 have no UART, and the PCI UART /dev/ttyS4 (COM5) goes to a
// device that never raises CTS.
struct UartCase {
  const char* name;
  std::string command;  // run in the machine with its arguments, no shell
  std::string output;   // after the banner; {listing}: the device's seven blocks; {any}: any text
  std::vector<std::string> errors = {};  // standard error, in order; {}: nothing
  int exit_status = 0;
  std::vector<std::string> device = {};  // murvesim's options, for the device on COM2
  std::string line = "115200";           // the port's settings before the run
  std::string port = "/dev/ttyS1";
  std::string before = "";  // shell run first
  int signal = 0;           // sent once the device has the third write command
  unsigned seed = 0;        // the device's EEPROM at the start: random from this seed; 0 erased
  unsigned holds = 0;       // the settings from seed `holds` are what the device holds at the end
};

std::string random_eeprom(unsigned seed) {
  std::string bytes(512, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// How many bytes the port's UART has sent, from the serial driver's own count.
std::string transmitted(TestMachine& machine, const std::string& port) {
  const std::string line = port.substr(port.size() - 1);
  return machine.run("sed -n 's/^" + line + ": .* tx:\\([0-9]*\\).*/\\1/p' /proc/tty/driver/serial")
      .output;
}

TEST(RealUart, RunsOnTheKernelsUartDriver) {
  if (k_vm_kernel[0] == '\0') {
    GTEST_SKIP() << "no kernel to boot: configure with -DMURVECOLOR_VM_KERNEL=PATH "
                    "(tools/fetch-vm-kernel; test.sh does)";
  }
  TempDir dir;
  write_file(dir.file("start-run"), k_start_run);
  write_file(dir.file("empty.cfg"), "");
  TempDir held_dir;
  SimulatedDevice cts_never_high(held_dir);
  ASSERT_TRUE(cts_never_high.started());
  const std::string socket = dir.file("com2.socket");
  TestMachine machine(dir, {k_vm_kernel,
                            {{"/bin/murvecolor", MURVECOLOR_STATIC_EXE},
                             {"/bin/murvedump", MURVEDUMP_STATIC_EXE},
                             {"/bin/hold-port", HOLD_PORT_EXE},
                             {"/bin/default-signals", DEFAULT_SIGNALS_EXE},
                             {"/bin/start-run", dir.file("start-run")},
                             {"/e.cfg", dir.file("empty.cfg")}},
                            socket,
                            cts_never_high.link_path()});
  ASSERT_EQ(machine.error(), "");
  ASSERT_EQ(machine.run("chmod +x /bin/start-run").exit_status, 0);

  const std::string stall = "the port took no byte for 1 s";
  const std::vector<UartCase> cases = {
      {"a complete run as COM2 by the default map, at 9600 baud kept as found",
       "murvecolor -com 2 -config /e.cfg",
       identified() + written() + "{listing}\n",
       {},
       0,
       {},
       "9600"},
      {"a complete run at 115200 baud kept as found", "murvecolor -com 2 -config /e.cfg",
       identified() + written() + "{listing}\n"},
      {"COM3, a node without a UART",
       "murvecolor -com 3 -config /e.cfg",
       "\n\n",
       {"cannot open /dev/ttyS2: Input/output error (no serial hardware is behind /dev/ttyS2, "
        "the default path of COM3: name the device with -port PATH or MURVECOLOR_COM3=PATH"},
       0,
       {},
       "",
       "/dev/ttyS2"},
      {"the port held by flock",
       "murvecolor -com 2 -config /e.cfg",
       "\n\n",
       {"cannot open /dev/ttyS1: Device or resource busy (in use by another program"},
       0,
       {},
       "115200",
       "/dev/ttyS1",
       "hold-port flock /dev/ttyS1 >/dev/null & sleep 0.5"},
      {"the port held with TIOCEXCL alone, which root's open gets past",
       "murvecolor -com 2 -config /e.cfg",
       "\n\n",
       {"cannot open /dev/ttyS1: Device or resource busy (in use by another program"},
       0,
       {},
       "115200",
       "/dev/ttyS1",
       "hold-port excl /dev/ttyS1 >/dev/null & sleep 0.5"},
      // What the device did not take stays in the UART's queue, until the send gives up on it.
      {"the device stops reading during the writes",
       "murvecolor -com 2 -config /e.cfg",
       identified() + k_default_write_commands[0] + "{any}write error.\n\n",
       {stall + " (has the device stopped reading?)", "(the signature command)"},
       0,
       {"--stall-after", "3"}},
      {"hardware flow control on, CTS low",
       "murvecolor -com 5 -config /e.cfg",
       "write error.\n\n",
       {"write error on /dev/ttyS4: " + stall +
        ": hardware flow control is on and the device is not ready (CTS low); without RTS/CTS "
        "wired, turn it off with stty -F /dev/ttyS4 -crtscts; nothing was written to it"},
       0,
       {},
       "115200 crtscts",
       "/dev/ttyS4"},
      {"SIGINT during the writes",
       "murvecolor -com 2 -config /e.cfg",
       identified() + "{any}",
       {"stopped during the writes: the device on /dev/ttyS1 now holds part of the new settings"},
       128 + SIGINT,
       {"--delay", "300"},
       "115200",
       "/dev/ttyS1",
       "",
       SIGINT},
      {"SIGTERM during the writes",
       "murvecolor -com 2 -config /e.cfg",
       identified() + "{any}",
       {"stopped during the writes: the device on /dev/ttyS1 now holds part of the new settings"},
       128 + SIGTERM,
       {"--delay", "300"},
       "115200",
       "/dev/ttyS1",
       "",
       SIGTERM},
      {"SIGQUIT during the writes",
       "murvecolor -com 2 -config /e.cfg",
       identified() + "{any}",
       {"stopped during the writes: the device on /dev/ttyS1 now holds part of the new settings"},
       128 + SIGQUIT,
       {"--delay", "300"},
       "115200",
       "/dev/ttyS1",
       "",
       SIGQUIT},
      {"murvedump backs the device up",
       "murvedump -com 2 -o /tmp/backup.cfg",
       "",
       {},
       0,
       {},
       "115200",
       "/dev/ttyS1",
       "",
       0,
       7},
      {"the backup written back",
       "murvecolor -com 2 -config /tmp/backup.cfg",
       identified() + "{any}\n",
       {},
       0,
       {},
       "115200",
       "/dev/ttyS1",
       "",
       0,
       0,
       7},
  };
  for (const UartCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir device_dir;
    if (c.seed != 0) {
      write_file(device_dir.file("eeprom.bin"), random_eeprom(c.seed));
    }
    std::vector<std::string> options = {"--connect", socket};
    options.insert(options.end(), c.device.begin(), c.device.end());
    auto device = std::make_unique<SimulatedDevice>(device_dir, options);
    ASSERT_TRUE(device->started());
    const bool has_uart = c.port != "/dev/ttyS2";
    if (has_uart) {
      ASSERT_EQ(machine.run("stty -F " + c.port + " " + c.line).exit_status, 0);
    }
    const std::string settings = machine.run("stty -F " + c.port + " -g").output;
    if (!c.before.empty()) {
      machine.run(c.before);
    }
    machine.run("start-run " + c.command);
    if (c.signal != 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (device->received().find("eepromex 0c2") == std::string::npos &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      machine.run("kill -" + std::to_string(c.signal) + " $(cat /tmp/run.pid)");
    }
    // Within its bounds, a run ends in seconds; closing a port with output queued would wait 30 s.
    const GuestResult ended = machine.run(
        "i=0; while [ ! -e /tmp/run.status ] && [ $i -lt 300 ]; do sleep 0.05; i=$((i+1)); done; "
        "cat /tmp/run.status");
    machine.run("killall hold-port 2>/dev/null; true");
    EXPECT_EQ(ended.output, std::to_string(c.exit_status) + "\n");
    const std::string output = machine.run("cat /tmp/run.out").output;
    const std::string errors = machine.run("cat /tmp/run.err").output;
    const std::string eeprom = device->eeprom();
    const bool dump = c.command.rfind("murvedump", 0) == 0;
    std::string expected = (dump ? "" : k_banner) + c.output;
    if (const std::size_t at = expected.find("{listing}"); at != std::string::npos) {
      expected.replace(at, 9, expected_listing(eeprom, "0123456"));
    }
    EXPECT_TRUE(output_matches(output, expected));
    if (c.errors.empty()) {
      EXPECT_EQ(errors, "");
    } else {
      EXPECT_TRUE(says(errors, c.errors));
    }
    if (c.holds != 0) {
      const std::string source = random_eeprom(c.holds);
      for (std::size_t address = 0x82; address < 0x152; ++address) {
        const bool fill_byte = address >= 0xc2 && address < 0x122 && (address - 0xc2) % 4 == 3;
        EXPECT_EQ(eeprom[address], fill_byte ? '\0' : source[address]) << std::hex << address;
      }
    } else if (c.seed == 0 && c.signal == 0) {
      // A command sent just before a signal may be stored without its echo.
      EXPECT_TRUE(holds_only_echoed_bytes(eeprom, output));
    }
    const std::string commands = dump ? "\rh\r" + read_commands() : all_commands();
    if (c.holds == 0) {
      EXPECT_EQ(device->received(), commands.substr(0, device->received().size()));
    }
    if (!has_uart) {
      continue;
    }
    EXPECT_EQ(machine.run("stty -F " + c.port + " -g").output, settings);
    // Let the line go: nothing the run left queued may leave the port after it ended.
    const std::string sent = transmitted(machine, c.port);
    device.reset();
    TempDir fresh_dir;
    SimulatedDevice fresh(fresh_dir, {"--connect", socket});
    ASSERT_TRUE(fresh.started());
    machine.run("stty -F " + c.port + " -crtscts; sleep 1");
    EXPECT_EQ(transmitted(machine, c.port), sent);
    EXPECT_EQ(fresh.received(), "");
    EXPECT_EQ(cts_never_high.received(), "");
  }
}
#endif

}  // namespace
}  // namespace murve_test
