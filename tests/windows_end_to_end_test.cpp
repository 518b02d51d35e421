// murvecolor.exe, cross-built for Windows, run under Wine against murvesim on a pseudo-terminal;
// and the Windows zip, whose programs are run the same way.
//
// Each test has a Wine prefix of its own. Making one with wineboot takes seconds, so the first
// test of a build folder makes a template prefix beside the test program, and every test copies
// it: the registry files for real, since wineserver rewrites them in place, and the rest of it
// (hundreds of megabytes of DLLs that Wine only reads) as hard links.

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/usage_text.h"
#include "test_support.h"

namespace murve_test {
namespace {

namespace fs = std::filesystem;

#ifdef MURVECOLOR_WINDOWS_EXE
constexpr const char* k_windows_exe = MURVECOLOR_WINDOWS_EXE;
#else
constexpr const char* k_windows_exe = "";
#endif
#ifdef MURVECOLOR_WINDOWS_ZIP
constexpr const char* k_windows_zip = MURVECOLOR_WINDOWS_ZIP;
#else
constexpr const char* k_windows_zip = "";
#endif
constexpr const char* k_version = MURVECOLOR_VERSION;

// Bounds on making the template prefix, on one run of the program and on stopping Wine, which
// leave the test time to stop Wine before its own time is up.
constexpr auto k_boot_timeout = std::chrono::seconds(30);
constexpr auto k_run_timeout = std::chrono::seconds(20);
constexpr auto k_shutdown_timeout = std::chrono::seconds(5);
// A run on a terminal, whose console Wine draws a character at a time: longer, and still far
// short of the minutes a wait for Enter would take.
constexpr auto k_console_run_timeout = std::chrono::seconds(40);
// A run whose device never answers must still end well within this.
constexpr auto k_silent_run_bound = std::chrono::seconds(10);
constexpr const char* k_version_file = "murvecolor-wine-version";
// The COM numbers Wine gives out, and murvecolor -list looks at.
constexpr int k_com_numbers = 256;

struct WineTools {
  std::string loader;  // wine64
  std::string server;  // wineserver
};

std::string find_program(const std::string& name, const std::vector<fs::path>& first_in) {
  std::vector<fs::path> dirs = first_in;
  const char* path = std::getenv("PATH");
  std::istringstream entries(path != nullptr ? path : "");
  for (std::string dir; std::getline(entries, dir, ':');) {
    dirs.emplace_back(dir.empty() ? "." : dir);
  }
  for (const fs::path& dir : dirs) {
    const fs::path candidate = dir / name;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) {
      return candidate.string();
    }
  }
  return "";
}

// Debian keeps wine64 and its wineserver in /usr/lib/wine, off the PATH.
WineTools find_wine() {
  WineTools tools;
  tools.loader = find_program("wine64", {});
  if (tools.loader.empty()) {
    tools.loader = find_program("wine64", {"/usr/lib/wine"});
  }
  if (!tools.loader.empty()) {
    tools.server = find_program("wineserver", {fs::path(tools.loader).parent_path()});
  }
  return tools;
}

// The folder of the test program, inside the build folder.
fs::path build_folder() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

std::vector<std::string> wine_environment(const fs::path& prefix, const fs::path& tmp) {
  return {
      "WINEPREFIX=" + prefix.string(),
      "WINEARCH=win64",
      "WINEDEBUG=-all",
      // wineserver keeps its socket under TMPDIR; this one goes with the test's own folder.
      "TMPDIR=" + tmp.string(),
      // No menu entries in the home folder, no offer to install Mono or Gecko, no window.
      "WINEDLLOVERRIDES=winemenubuilder.exe=d;mscoree=d;mshtml=d",
      "DISPLAY=",
  };
}

// Ends every Wine process of the prefix and waits until its wineserver has gone.
void shut_down_wine(const WineTools& tools, const std::vector<std::string>& environment) {
  run_process({tools.server, "-k"}, environment, k_shutdown_timeout);
  run_process({tools.server, "-w"}, environment, k_shutdown_timeout);
}

// An exclusive lock on a file, held until the object goes.
class FileLock {
 public:
  explicit FileLock(const fs::path& path)
      : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0) {
      flock(fd_, LOCK_EX);
    }
  }
  ~FileLock() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

// Makes the template prefix unless it is there for this Wine already; call it under the lock.
std::string make_template(const WineTools& tools, const fs::path& templ) {
  const ProcessResult version = run_process({tools.loader, "--version"});
  if (version.exit_status != 0 || version.output.empty()) {
    return tools.loader + " --version failed";
  }
  if (fs::exists(templ / k_version_file) && read_file(templ / k_version_file) == version.output) {
    return "";
  }
  fs::remove_all(templ);
  TempDir tmp;
  const std::vector<std::string> environment = wine_environment(templ, tmp.path());
  const ProcessResult boot =
      run_process({tools.loader, "wineboot", "--init"}, environment, k_boot_timeout);
  // What wineboot started finishes its work first; wineserver saves the registry as it goes.
  run_process({tools.server, "-w"}, environment, k_boot_timeout);
  shut_down_wine(tools, environment);
  if (boot.timed_out || !fs::exists(templ / "system.reg") || !fs::exists(templ / "drive_c")) {
    return "wineboot --init did not make a prefix in " + templ.string();
  }
  // It names the wineserver folder under TMPDIR, which goes with `tmp`.
  fs::remove(templ / "wineserver");
  write_file(templ / k_version_file, version.output);
  return "";
}

void copy_template(const fs::path& templ, const fs::path& prefix) {
  fs::create_directories(prefix);
  for (const fs::directory_entry& entry : fs::directory_iterator(templ)) {
    const fs::path name = entry.path().filename();
    if (name == "wineserver" || name == k_version_file) {
      continue;
    }
    constexpr auto deep = fs::copy_options::recursive | fs::copy_options::copy_symlinks;
    if (name == "drive_c") {
      std::error_code linked;
      fs::copy(entry.path(), prefix / name, deep | fs::copy_options::create_hard_links, linked);
      if (!linked) {
        continue;
      }
      fs::remove_all(prefix / name);  // another file system: copy it whole
    }
    fs::copy(entry.path(), prefix / name, deep);
  }
}

// A Wine prefix of one test, whose COM ports reach the given Unix devices; with `no_others`, no
// other COM number reaches anything, for a test that probes every port there is.
class WinePrefix {
 public:
  WinePrefix(const WineTools& tools, const TempDir& dir, const std::map<int, std::string>& ports,
             bool no_others = false)
      : tools_(tools),
        dir_(dir),
        path_(build_folder() / "wine-prefixes" / fs::path(dir.path()).filename()),
        environment_(wine_environment(path_, dir.path())) {
    {
      FileLock lock(build_folder() / "wine-prefix-template.lock");
      error_ = make_template(tools, build_folder() / "wine-prefix-template");
      if (!error_.empty()) {
        return;
      }
      fs::remove_all(path_);
      copy_template(build_folder() / "wine-prefix-template", path_);
    }
    // "\\.\COMn" opens what dosdevices/comN links to. Wine's mount manager makes those links
    // anew whenever the prefix starts, before any program runs, from this registry key and then
    // for the serial ports it finds on the host (/dev/ttyS0 and the like), numbered from 1 up
    // past the ones the key names: without the key, com5 could go to a port of the host.
    std::string mapping = "\n[Software\\\\Wine\\\\Ports]\n";
    for (const auto& [port, device] : ports) {
      if (device.find_first_of("\\\"") != std::string::npos) {
        error_ = "can't write " + device + " into the registry";
        return;
      }
      const std::string name = "COM" + std::to_string(port);
      mapping += "\"" + name + "\"=\"" + device + "\"\n";
      const fs::path link = path_ / "dosdevices" / ("com" + std::to_string(port));
      fs::remove(link);
      fs::create_symlink(device, link);
    }
    // The mount manager makes no port whose link it can't make, and a folder stands in the way
    // of one; opening such a name fails with ERROR_ACCESS_DENIED, not as a missing port does.
    for (int port = 1; no_others && port <= k_com_numbers; ++port) {
      const fs::path link = path_ / "dosdevices" / ("com" + std::to_string(port));
      if (ports.count(port) == 0) {
        fs::remove(link);
        fs::create_directory(link);
      }
    }
    write_file(path_ / "system.reg", read_file(path_ / "system.reg") + mapping);
  }

  ~WinePrefix() {
    shut_down_wine(tools_, environment_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }

  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  // Empty when the prefix is ready.
  const std::string& error() const { return error_; }

  // Whether the prefix has a DOS device of this name ("com16"), once Wine has started in it.
  bool has_dos_device(const std::string& name) const {
    return fs::is_symlink(path_ / "dosdevices" / name);
  }

  // Runs murvecolor.exe in the test's folder with these arguments.
  ProcessResult run_murvecolor(const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment = {}) const {
    return run(k_windows_exe, arguments, environment);
  }

  // Runs murvecolor.exe without arguments on a terminal, where Wine gives it a console that it
  // alone is on, as Explorer does a program started with a double-click; the shell redirects
  // its streams by `redirection` (" >out.txt"). `key` is typed on the terminal every half
  // second until the program ends.
  ProcessResult run_murvecolor_on_console(const std::string& redirection,
                                          const std::string& key) const {
    const std::string command = "'" + tools_.loader + "' '" + k_windows_exe + "'" + redirection;
    const std::string typing = "(while sleep 0.5; do printf '" + key + "'; done)";
    return run_process({"sh", "-c", typing + " | script -qec \"" + command + "\" /dev/null"},
                       environment_, k_console_run_timeout, dir_.path());
  }

  // Runs a Windows program in the test's folder with these arguments.
  ProcessResult run(const std::string& exe, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> argv = {tools_.loader, exe};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variables = environment_;
    variables.insert(variables.end(), environment.begin(), environment.end());
    return run_process(argv, variables, k_run_timeout, dir_.path());
  }

 private:
  const WineTools& tools_;
  const TempDir& dir_;
  fs::path path_;
  std::vector<std::string> environment_;
  std::string error_;
};

// The file as UTF-8, read in `encoding` (iconv's name), or nothing when it is not text in it.
std::optional<std::string> decoded(const std::string& path, const char* encoding) {
  const ProcessResult iconv = run_process({"iconv", "-f", encoding, "-t", "UTF-8", path});
  return iconv.exit_status == 0 ? std::optional(iconv.output) : std::nullopt;
}

// What a device is left holding after the default image's write commands and the signature.
std::string default_eeprom() {
  std::string eeprom(512, '\xff');
  eeprom[0x80] = '\xaa';
  eeprom[0x81] = '\x55';
  for (const std::string& command : k_default_write_commands) {
    std::istringstream fields(command.substr(std::string("eepromex ").size()));
    unsigned address = 0;
    fields >> std::hex >> address;
    for (unsigned byte = 0; fields >> byte; ++address) {
      eeprom[address] = static_cast<char>(byte);
    }
  }
  return eeprom;
}

class WindowsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    need_wine_for(k_windows_exe, "MURVECOLOR_WINDOWS_EXE", "murvecolor.exe");
  }

  // Skips the test unless the build was given `file` (with -D`option`), and finds Wine.
  void need_wine_for(const char* file, const char* option, const char* what) {
    if (file[0] == '\0') {
      GTEST_SKIP() << "no " << what << " to run under Wine: configure with -D" << option
                   << "=/path/to/" << what << " (test.sh does)";
    }
    ASSERT_TRUE(fs::exists(file)) << file << " is not there";
    tools_ = find_wine();
    ASSERT_FALSE(tools_.loader.empty())
        << "no wine64 to run " << file << " with (Debian: apt-get install wine64)";
    ASSERT_FALSE(tools_.server.empty()) << "no wineserver beside " << tools_.loader;
  }

  WineTools tools_;
  TempDir dir_;
};

struct DeviceCase {
  const char* name;
  std::vector<std::string> options;  // murvesim's
};

void PrintTo(const DeviceCase& device, std::ostream* out) {
  *out << device.name;
}

class WindowsCompleteRun : public WindowsEndToEnd,
                           public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(WindowsCompleteRun, DefaultImageGivesTheNativeOutput) {
  write_file(dir_.file("empty.cfg"), "");
  SimulatedDevice device(dir_, GetParam().options);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
  ASSERT_EQ(prefix.error(), "");

  const ProcessResult windows = prefix.run_murvecolor({"-com", "5", "-config", "empty.cfg"});
  EXPECT_FALSE(windows.timed_out);
  EXPECT_EQ(windows.exit_status, 0);
  EXPECT_EQ(device.eeprom(), default_eeprom());
  EXPECT_EQ(windows.output.find('\r'), std::string::npos) << "line ends are not bare line feeds";
  std::string expected_writes;
  for (const std::string& command : k_default_write_commands) {
    expected_writes += command;
  }
  EXPECT_NE(windows.output.find(expected_writes + "eepromex 80 aa 55\n\nVerify..\n"),
            std::string::npos)
      << windows.output;

  // The same device, written again with the same bytes, gives the native build the same dialogue.
  const ProcessResult native = murve_test::run_murvecolor({"-com", "5", "-config", "empty.cfg"},
                                                          {device.com5_variable()}, dir_.path());
  EXPECT_EQ(windows.output, native.output);
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WindowsCompleteRun,
    ::testing::Values(DeviceCase{"PromptDevice", {}},
                      // Each reply comes well after the command's fixed sleep is over.
                      DeviceCase{"SlowDevice", {"--delay", "150"}}),
    [](const ::testing::TestParamInfo<DeviceCase>& info) { return std::string(info.param.name); });

// "\\.\COMn" is the only form of the name that opens ports above 9 on Windows.
class WindowsPortNumbers : public WindowsEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(WindowsPortNumbers, PortIsFoundByItsNumber) {
  const int port = GetParam();
  write_file(dir_.file("empty.cfg"), "");
  SimulatedDevice device(dir_);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{port, device.link_path()}});
  ASSERT_EQ(prefix.error(), "");

  // -com takes 1 to 16; -port COMn reaches the rest.
  const ProcessResult run = prefix.run_murvecolor({port <= 16 ? "-com" : "-port",
                                                   (port <= 16 ? "" : "COM") + std::to_string(port),
                                                   "-config", "empty.cfg"});
  EXPECT_NE(run.output.find("MURVE Pro"), std::string::npos) << run.output;
  EXPECT_EQ(device.eeprom(), default_eeprom());
}

INSTANTIATE_TEST_SUITE_P(Wine, WindowsPortNumbers, ::testing::Values(1, 9, 10, 16, 17));

TEST_F(WindowsEndToEnd, PortThatDoesNotExistGivesTwoEmptyLines) {
  write_file(dir_.file("empty.cfg"), "");
  const WinePrefix prefix(tools_, dir_, {});
  ASSERT_EQ(prefix.error(), "");
  // A first run touches no port and lets Wine number the serial ports of the host.
  ASSERT_EQ(prefix.run_murvecolor({}).exit_status, 0);
  if (prefix.has_dos_device("com16")) {
    GTEST_SKIP() << "Wine gives this host a COM16 of its own, which the test won't write to";
  }

  for (const bool verify : {false, true}) {
    std::vector<std::string> arguments = {"-com", "16", "-config", "empty.cfg"};
    if (verify) {
      arguments.push_back("-verify");
    }
    const ProcessResult run = prefix.run_murvecolor(arguments);
    EXPECT_EQ(run.exit_status, verify ? 1 : 0);
    EXPECT_EQ(run.output, std::string(k_banner) + "\n" + "\n");
    // The path tried and the system's reason, in the words of Wine's FormatMessage.
    EXPECT_EQ(run.error_output.rfind("murvecolor: cannot open \\\\.\\COM16: ", 0), 0u)
        << run.error_output;
    EXPECT_NE(run.error_output.find("Device Manager"), std::string::npos);
  }
}

// -verify under Wine: the same verdict and exit status as on Linux; and -check, which only reads.
TEST_F(WindowsEndToEnd, VerifyGivesAVerdictAndAnExitStatus) {
  write_file(dir_.file("empty.cfg"), "");
  for (const bool corrupt : {false, true}) {
    SCOPED_TRACE(corrupt ? "0x0c4 stored wrong" : "every byte stored");
    TempDir device_dir;
    SimulatedDevice device(device_dir, corrupt ? std::vector<std::string>{"--corrupt", "0x0c4"}
                                               : std::vector<std::string>{});
    ASSERT_TRUE(device.started());
    const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
    ASSERT_EQ(prefix.error(), "");
    const ProcessResult run =
        prefix.run_murvecolor({"-com", "5", "-config", "empty.cfg", "-verify"});
    const std::string verdict = corrupt
                                    ? "verify failed: 1 of 210 bytes differs\n"
                                      "0x0c4: c2608 entry 0, byte 2: wrote 3f, read 3e\n\n"
                                    : "verified: 210 bytes at 0x080-0x151 read back as written\n\n";
    EXPECT_EQ(run.output.substr(run.output.size() - std::min(run.output.size(), verdict.size())),
              verdict);
    EXPECT_EQ(run.exit_status, corrupt ? 1 : 0);
    EXPECT_EQ(run.error_output, "");

    const std::size_t received = device.received().size();
    const ProcessResult check =
        prefix.run_murvecolor({"-com", "5", "-config", "empty.cfg", "-check"});
    EXPECT_EQ(check.exit_status, corrupt ? 1 : 0);
    EXPECT_NE(check.output.find(
                  corrupt ? "\nthe device does not match the settings file: 1 of 210 bytes "
                            "differs\n0x0c4: c2608 entry 0, byte 2: the settings file gives 3f"
                          : "\nverified: 210 bytes at 0x080-0x151 hold the signature"),
              std::string::npos)
        << check.output;
    EXPECT_EQ(device.received().substr(received),
              "\rh\reepromex read 80\neepromex read a0\neepromex read c0\neepromex read e0\n"
              "eepromex read 100\neepromex read 120\neepromex read 140\n");
  }
}

// -list probes every COM port there is, and names the device on the test's.
TEST_F(WindowsEndToEnd, ListFindsTheDevice) {
  SimulatedDevice device(dir_);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}}, true);
  ASSERT_EQ(prefix.error(), "");
  // A first run touches no port and lets Wine number the serial ports of the host.
  ASSERT_EQ(prefix.run_murvecolor({}).exit_status, 0);
  for (int port = 1; port <= k_com_numbers; ++port) {
    if (port != 5 && prefix.has_dos_device("com" + std::to_string(port))) {
      GTEST_SKIP() << "Wine gives this host a COM" << port
                   << " of its own, which -list would probe";
    }
  }

  const ProcessResult run = prefix.run_murvecolor({"-list"});
  EXPECT_EQ(run.exit_status, 0) << run.error_output;
  const std::string lines = run.output.substr(std::min(run.output.size(), std::strlen(k_banner)));
  EXPECT_EQ(lines.rfind("COM5 ", 0), 0u) << run.output;
  EXPECT_NE(lines.find("MURVE Pro"), std::string::npos) << run.output;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << run.output;
}

// The port's write timeouts while murvecolor has it, and after: a port without a write bound
// gets one, and its own timeouts back on close; one with a bound keeps it.
TEST_F(WindowsEndToEnd, PortGetsAWriteBoundAndItsTimeoutsBack) {
  const fs::path check = fs::path(k_windows_exe).parent_path() / "port_timeouts_check.exe";
  ASSERT_TRUE(fs::exists(check)) << check << " is built beside murvecolor.exe";
  SimulatedDevice device(dir_);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
  ASSERT_EQ(prefix.error(), "");
  const ProcessResult run = prefix.run(check.string(), {});
  EXPECT_EQ(run.exit_status, 0) << run.output;
  EXPECT_NE(run.output.find(" ms a byte + 1000 ms"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nok\r\n"), std::string::npos);  // text mode: CR LF
}

// Under Wine, unlike Windows, a port named in the registry opens even when its device is missing
// (the open reaches the device object that Wine's mount manager made for the port); then every
// call on it fails with ERROR_INVALID_FUNCTION, and so GetCommState does: no serial port.
TEST_F(WindowsEndToEnd, PortWhoseDeviceIsMissingIsNoSerialPort) {
  write_file(dir_.file("empty.cfg"), "");
  const WinePrefix prefix(tools_, dir_, {{5, dir_.file("no-device")}});
  ASSERT_EQ(prefix.error(), "");

  const ProcessResult run = prefix.run_murvecolor({"-com", "5", "-config", "empty.cfg"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, std::string(k_banner) + "\n" + "\n");
  EXPECT_EQ(run.error_output.rfind("murvecolor: cannot open \\\\.\\COM5: ", 0), 0u)
      << run.error_output;
  EXPECT_NE(run.error_output.find("(not a serial port)"), std::string::npos);
}

// A device that never answers, and one that hangs up when asked who it is: the port gone, which
// is told apart from silence.
TEST_F(WindowsEndToEnd, SilentDeviceIsReportedMissingWithinTheBound) {
  write_file(dir_.file("empty.cfg"), "");
  for (const bool hangs_up : {false, true}) {
    SCOPED_TRACE(hangs_up ? "hangs up" : "silent");
    TempDir device_dir;
    SimulatedDevice device(device_dir, hangs_up ? std::vector<std::string>{"--hangup-after", "1"}
                                                : std::vector<std::string>{"--silent"});
    ASSERT_TRUE(device.started());
    const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
    ASSERT_EQ(prefix.error(), "");

    const ProcessResult run = prefix.run_murvecolor({"-com", "5", "-config", "empty.cfg"});
    EXPECT_FALSE(run.timed_out);
    EXPECT_LT(run.elapsed, k_silent_run_bound);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, std::string(k_banner) + "\n" + "MURVE(6183) not found.\n" + "\n");
    EXPECT_NE(run.error_output.find(hangs_up ? "\\\\.\\COM5 hung up before the device answered"
                                             : "no answer from the device on \\\\.\\COM5"),
              std::string::npos)
        << run.error_output;
  }
}

TEST_F(WindowsEndToEnd, SettingsFileErrorEndsTheRunBeforeThePort) {
  write_file(dir_.file("bad.cfg"), "x1 00\n");
  SimulatedDevice device(dir_);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
  ASSERT_EQ(prefix.error(), "");

  const ProcessResult run = prefix.run_murvecolor({"-com", "5", "-config", "bad.cfg"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, std::string(k_banner) + "??? [x1]\n" + "config file error\n");
  EXPECT_EQ(device.eeprom(), std::string(512, '\xff'));
}

// The test reads both streams from pipes, and Wine gives a program without a console a
// GetConsoleOutputCP() of 0; the programs then write text in the OEM code page a console would
// have (437, or 932 for Japanese), with '?' for what it lacks, and the usage text in Shift_JIS.
// A name or a word the user gave is bytes, and goes out as it came.
struct StreamTextCase {
  const char* name;
  const char* locale;    // the locale's variables, which Wine's follow
  const char* command;   // the program beside murvecolor.exe and its arguments
  const char* encoding;  // iconv's name for the code page of standard error
  std::string output;    // standard output byte for byte, before the usage text if any
  bool usage_text;
  std::string error;  // how standard error, read in the code page, begins
  int exit_status;
};

void PrintTo(const StreamTextCase& text_case, std::ostream* out) {
  *out << text_case.name;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

class WindowsStreamText : public WindowsEndToEnd,
                          public ::testing::WithParamInterface<StreamTextCase> {};

TEST_P(WindowsStreamText, EachStreamIsInOneCodePage) {
  const StreamTextCase& text_case = GetParam();
  const locale_t japanese = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
  if (japanese == nullptr) {
    GTEST_SKIP() << "no ja_JP.UTF-8 locale here (test.sh makes it with localedef)";
  }
  freelocale(japanese);
  const WinePrefix prefix(tools_, dir_, {});
  ASSERT_EQ(prefix.error(), "");
  // A settings file a row may name, whose first word begins with a UTF-8 byte-order mark.
  write_file(dir_.file("bom.cfg"),
             "\xef\xbb\xbf"
             "c3 00\n");
  const std::vector<std::string> command = words(text_case.command);
  const ProcessResult run = prefix.run(
      (fs::path(k_windows_exe).parent_path() / command[0]).string(),
      {command.begin() + 1, command.end()},
      words(std::string("LC_ALL= LC_CTYPE= LC_MESSAGES= LANGUAGE= ") + text_case.locale));
  EXPECT_EQ(run.exit_status, text_case.exit_status);
  const std::string usage(text_case.usage_text ? murve::usage_text_shift_jis() : "");
  ASSERT_GE(run.output.size(), usage.size());
  EXPECT_EQ(run.output.substr(run.output.size() - usage.size()), usage);
  EXPECT_EQ(run.output.substr(0, run.output.size() - usage.size()), text_case.output);
  write_file(dir_.file("stderr"), run.error_output);
  const std::optional<std::string> error = decoded(dir_.file("stderr"), text_case.encoding);
  ASSERT_TRUE(error.has_value()) << "not " << text_case.encoding << ": " << run.error_output;
  EXPECT_EQ(error->rfind(text_case.error, 0), 0u) << *error;
  // FormatMessage's Japanese text brings its own 「。」, which the message's sentence replaces.
  EXPECT_EQ(error->find("。。"), std::string::npos) << *error;
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WindowsStreamText,
    ::testing::Values(
        StreamTextCase{"EnglishUsage", "LANG=C.UTF-8", "murvecolor.exe", "CP437", k_banner, true,
                       "murvecolor: -com needs a port number", 0},
        StreamTextCase{"JapaneseUsage", "LANG=ja_JP.UTF-8", "murvecolor.exe", "CP932", k_banner,
                       true, "murvecolor: -comには1から16までのポート番号", 0},
        StreamTextCase{"JapaneseUnknownOption", "LANG=ja_JP.UTF-8", "murvecolor.exe -com 5 -色",
                       "CP932", std::string(k_banner) + "invalid option [-色]\n", true,
                       "murvecolor: 「-色」というオプションはありません。", 0},
        StreamTextCase{"JapaneseNameOfAMissingFile", "LANG=ja_JP.UTF-8",
                       "murvecolor.exe -com 5 -config 存在しない.cfg", "CP932",
                       std::string(k_banner) + "open error.[存在しない.cfg]\n", false,
                       "murvecolor: 存在しない.cfg: 設定ファイルを開けません。", 0},
        // The word as the file has it, its byte-order mark included, as on Linux.
        StreamTextCase{"ByteOrderMarkWord", "LANG=C.UTF-8", "murvecolor.exe -com 5 -config bom.cfg",
                       "CP437",
                       std::string(k_banner) + "??? [\xef\xbb\xbf"
                                               "c3]\nconfig file error\n",
                       false, "murvecolor: bom.cfg:1: a line must begin with #", 0},
        StreamTextCase{"JapaneseMurvedumpFailure", "LANG=ja_JP.UTF-8",
                       "murvedump.exe -com 5 -o 無い/バックアップ.cfg", "CP932", "", false,
                       "murvedump: 何も書き出していません。無い/に一時ファイルを作れません。", 1},
        StreamTextCase{"JapaneseSystemTextOfAMissingPort", "LANG=ja_JP.UTF-8",
                       "murvecolor.exe -com 9 -config nul", "CP932", std::string(k_banner) + "\n\n",
                       false, "murvecolor: \\\\.\\COM9を開けません。", 0},
        // A name Windows gives a device is no backup file, refused before the port is opened.
        StreamTextCase{"DeviceNameAsBackup", "LANG=C.UTF-8", "murvedump.exe -com 5 -o aux.cfg",
                       "CP437", "", false,
                       "murvedump: cannot write aux.cfg: it is not a regular file (a device or a "
                       "FIFO?); nothing written",
                       1},
        // Japanese on an English system: in code page 437, English says more than '?'s would.
        StreamTextCase{"JapaneseDisplayOnAnEnglishSystem", "LANG=C.UTF-8 LC_MESSAGES=ja_JP.UTF-8",
                       "murvecolor.exe -com 5 -config 存在しない.cfg", "CP437",
                       std::string(k_banner) + "open error.[存在しない.cfg]\n", false,
                       "murvecolor: ?????.cfg: cannot open the settings file: ", 0}),
    [](const ::testing::TestParamInfo<StreamTextCase>& info) {
      return std::string(info.param.name);
    });

// What Wine's console shows, without its escape sequences and blanks, which it draws apart.
std::string console_letters(const std::string& screen) {
  std::string letters;
  for (std::size_t at = 0; at < screen.size(); ++at) {
    if (screen[at] == '\x1b' && at + 1 < screen.size() && screen[at + 1] == '[') {
      at = screen.find_first_of("@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~",
                                at + 2);
      at = at == std::string::npos ? screen.size() : at;
    } else if (!std::isspace(static_cast<unsigned char>(screen[at]))) {
      letters += screen[at];
    }
  }
  return letters;
}

// A console window of murvecolor's own stays open after the usage text until Enter is pressed;
// one whose streams are redirected, which no double-click gives, never waits.
struct ConsoleCase {
  const char* name;
  const char* redirection;  // the shell's, on the terminal
  const char* key;          // typed on the terminal until the run ends
  bool asks_for_enter;
};

void PrintTo(const ConsoleCase& console, std::ostream* out) {
  *out << console.name;
}

class WindowsConsoleWindow : public WindowsEndToEnd,
                             public ::testing::WithParamInterface<ConsoleCase> {};

TEST_P(WindowsConsoleWindow, StaysOpenOnlyWhenItIsTheProgramsOwn) {
  const ConsoleCase& console = GetParam();
  const WinePrefix prefix(tools_, dir_, {});
  ASSERT_EQ(prefix.error(), "");
  const ProcessResult run = prefix.run_murvecolor_on_console(console.redirection, console.key);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(console_letters(run.output).find("murvecolor:pressEntertoclosethiswindow") !=
                std::string::npos,
            console.asks_for_enter)
      << run.output;
  if (std::strstr(console.redirection, ">out") != nullptr) {
    const std::string output = read_file(dir_.file("out"));
    EXPECT_EQ(output.rfind(k_banner, 0), 0u) << output;
    EXPECT_EQ(output.find("Enter"), std::string::npos) << output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WindowsConsoleWindow,
    ::testing::Values(ConsoleCase{"DoubleClick", "", "\\r", true},
                      // Keys other than Enter: a wait here would last until the test gives up.
                      ConsoleCase{"OutputRedirected", " >out", "x", false},
                      ConsoleCase{"InputRedirected", " </dev/null", "x", false}),
    [](const ::testing::TestParamInfo<ConsoleCase>& info) { return std::string(info.param.name); });

class WindowsZip : public WindowsEndToEnd {
 protected:
  void SetUp() override {
    need_wine_for(k_windows_zip, "MURVECOLOR_WINDOWS_ZIP", "murvecolor-VERSION-win64.zip");
  }
};

// What a Windows user gets: unzipped, its murvecolor.exe writes the example settings file beside
// it into a device and its murvedump.exe backs the device up; the README opens in Notepad.
TEST_F(WindowsZip, ProgramsFromItProgramAndBackUpTheDevice) {
  const std::string folder = "murvecolor-" + std::string(k_version) + "-win64";
  EXPECT_EQ(fs::path(k_windows_zip).filename(), folder + ".zip");
  const ProcessResult listing = run_process({"unzip", "-Z1", k_windows_zip});
  ASSERT_EQ(listing.exit_status, 0) << "unzip -Z1 " << k_windows_zip;
  std::vector<std::string> files;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() != '/') {
      files.push_back(line);
    }
  }
  std::sort(files.begin(), files.end());
  const std::vector<std::string> expected = {folder + "/LICENSE",
                                             folder + "/README-windows-ja.txt",
                                             folder + "/README-windows.txt",
                                             folder + "/murve_color.cfg",
                                             folder + "/murve_color.ja.cfg",
                                             folder + "/murvecolor.exe",
                                             folder + "/murvedump.exe"};
  EXPECT_EQ(files, expected);

  ASSERT_EQ(run_process({"unzip", "-q", k_windows_zip, "-d", dir_.file("unzipped")}).exit_status,
            0);
  const fs::path unzipped = dir_.file("unzipped/" + folder);
  EXPECT_EQ(read_file(unzipped / "LICENSE"), read_file(MURVECOLOR_SOURCE_DIR "/LICENSE"));
  const std::string readme = read_file(unzipped / "README-windows.txt");
  const std::string readme_ja = read_file(unzipped / "README-windows-ja.txt");
  for (const std::string& text : {readme, readme_ja}) {
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) {
      ASSERT_TRUE(at > 0 && text[at - 1] == '\r') << "a bare line feed at byte " << at;
    }
  }
  EXPECT_TRUE(std::all_of(readme.begin(), readme.end(), [](char c) {
    return c == '\r' || c == '\n' || (c >= ' ' && c <= '~');
  })) << "not plain ASCII";
  // UTF-8 with a byte-order mark, which Notepad needs, and every command the English one shows.
  EXPECT_EQ(readme_ja.rfind("\xef\xbb\xbf", 0), 0u);
  EXPECT_TRUE(decoded(unzipped / "README-windows-ja.txt", "UTF-8").has_value());
  std::istringstream english(readme);
  for (std::string line; std::getline(english, line);) {
    if (line.rfind("  murvecolor -", 0) == 0 || line.rfind("  murvedump -", 0) == 0) {
      EXPECT_NE(readme_ja.find(line + "\n"), std::string::npos) << line;
    }
  }

  SimulatedDevice device(dir_);
  ASSERT_TRUE(device.started());
  const WinePrefix prefix(tools_, dir_, {{5, device.link_path()}});
  ASSERT_EQ(prefix.error(), "");

  const ProcessResult programmed =
      prefix.run((unzipped / "murvecolor.exe").string(),
                 {"-com", "5", "-config", (unzipped / "murve_color.cfg").string()});
  EXPECT_EQ(programmed.exit_status, 0);
  EXPECT_NE(programmed.output.find("Verify..\n"), std::string::npos) << programmed.output;
  EXPECT_EQ(device.eeprom(), default_eeprom());

  // The same settings as the native murvedump saves; only the time in the first line may differ.
  const ProcessResult native = run_process({MURVEDUMP_EXE, "-com", "5"}, {device.com5_variable()});
  ASSERT_EQ(native.exit_status, 0);
  const auto after_first_line = [](const std::string& text) {
    return text.substr(std::min(text.find('\n'), text.size()));
  };
  // The backup on standard output is the same bytes.
  const ProcessResult piped = prefix.run((unzipped / "murvedump.exe").string(), {"-com", "5"});
  EXPECT_EQ(piped.exit_status, 0);
  EXPECT_EQ(after_first_line(piped.output), after_first_line(native.output));
  // Names outside the ANSI code page and with spaces, as given: the programs' code page is UTF-8.
  // Wine reads the arguments in the locale's encoding; a name goes out as the bytes it is.
  const std::vector<std::string> utf8 = {"LC_ALL=C.UTF-8"};
  const std::string murvecolor = (unzipped / "murvecolor.exe").string();
  for (const std::string name : {"バックアップ.cfg", "my colours.cfg"}) {
    SCOPED_TRACE(name);
    const ProcessResult missing = prefix.run(murvecolor, {"-com", "5", "-config", name}, utf8);
    EXPECT_EQ(missing.output, std::string(k_banner) + "open error.[" + name + "]\n");
    const ProcessResult backup =
        prefix.run((unzipped / "murvedump.exe").string(), {"-com", "5", "-o", name}, utf8);
    EXPECT_FALSE(backup.timed_out);
    EXPECT_EQ(backup.exit_status, 0) << backup.output;
    const std::string saved = read_file(dir_.file(name));
    EXPECT_NE(saved.find("\nc2608 "), std::string::npos) << saved;
    EXPECT_EQ(after_first_line(saved), after_first_line(native.output));
    const ProcessResult restored = prefix.run(murvecolor, {"-com", "5", "-config", name}, utf8);
    EXPECT_EQ(restored.exit_status, 0);
    EXPECT_NE(restored.output.find("Verify..\n"), std::string::npos) << restored.output;
  }
  // In Japanese the comments are UTF-8, as the native murvedump writes them in a UTF-8 locale.
  const locale_t japanese = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
  if (japanese == nullptr) {
    return;  // the native murvedump would write English
  }
  freelocale(japanese);
  const ProcessResult native_ja =
      run_process({MURVEDUMP_EXE, "-com", "5"}, {"LC_ALL=ja_JP.UTF-8", device.com5_variable()});
  EXPECT_NE(native_ja.output.find("\n# 書き戻すには"), std::string::npos) << native_ja.output;
  const ProcessResult backup_ja =
      prefix.run((unzipped / "murvedump.exe").string(), {"-com", "5", "-o", "ja.cfg"},
                 words("LC_ALL= LC_MESSAGES= LANG=ja_JP.UTF-8"));
  EXPECT_EQ(backup_ja.exit_status, 0) << backup_ja.error_output;
  // Both of its first two lines give the time.
  const auto after_second_line = [](const std::string& text) {
    return text.substr(std::min(text.find('\n', text.find('\n') + 1), text.size()));
  };
  EXPECT_EQ(after_second_line(read_file(dir_.file("ja.cfg"))), after_second_line(native_ja.output));
}

}  // namespace
}  // namespace murve_test
