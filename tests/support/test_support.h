#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace murve_test {

// The first line of every murvecolor run.
inline constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";

// "ff 3f 00" -> {0xff, 0x3f, 0x00}
std::vector<std::uint8_t> hex_bytes(const std::string& text);

// Reads and writes whole files as bytes.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// A fresh folder for one test, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Fractions of a millisecond, for the benchmark's figures.
using Milliseconds = std::chrono::duration<double, std::milli>;

struct ProcessResult {
  std::string output;        // standard output, byte for byte
  std::string error_output;  // standard error
  int exit_status = -1;
  int term_signal = 0;
  bool timed_out = false;
  Milliseconds elapsed{0};   // wall time from start to end
  Milliseconds cpu_time{0};  // user + system, as the end of the process reports it
  long peak_rss_kib = 0;     // the largest resident set the process had
};

// A signal to send a running program once `after` has passed and `ready`, when given, says so.
struct SignalAfter {
  int signal_number = 0;
  std::chrono::milliseconds after{0};
  std::function<bool()> ready;
};

// Runs a program to its end with `environment` added to ours, capturing standard output and
// standard error; kills it after `timeout`.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(20),
                          const std::string& working_dir = "", SignalAfter signal = {});

// The command line that runs the built murvecolor with these arguments, behind the words of
// MURVECOLOR_TEST_WRAPPER when it is set ("valgrind -q", say).
std::vector<std::string> murvecolor_command(const std::vector<std::string>& arguments);

// A bound on a run's time that a run under MURVECOLOR_TEST_WRAPPER gets more of.
std::chrono::milliseconds run_bound(std::chrono::milliseconds plain);

// Runs the built murvecolor with these arguments.
ProcessResult run_murvecolor(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment = {},
                             const std::string& working_dir = "");

#ifndef _WIN32
// In a child process: `environment` added, in `working_dir` when given, becomes `argv`.
[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             const std::string& working_dir);

// A murvesim process serving a pty for the length of a test.
class SimulatedDevice {
 public:
  // Starts murvesim (the built one unless `program` names another) with these extra options,
  // its link, EEPROM file and log in `dir`.
  SimulatedDevice(const TempDir& dir, const std::vector<std::string>& options = {},
                  const std::string& program = "");
  ~SimulatedDevice();
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  bool started() const { return pid_ > 0 && ready_; }
  const std::string& link_path() const { return link_path_; }
  const std::string& eeprom_path() const { return eeprom_path_; }
  // The environment that maps COM5 to this device.
  std::string com5_variable() const { return "MURVECOLOR_COM5=" + link_path_; }
  // The EEPROM as saved after the last write; 512 bytes of ff when nothing was written.
  std::string eeprom() const;
  // Every byte the simulator has received so far.
  std::string received() const { return read_file(log_path_); }
  // Stops the simulator and waits for it.
  void stop();

 private:
  int pid_ = -1;
  int stdout_fd_ = -1;
  bool ready_ = false;     // it said it serves its link, or its socket
  std::string link_path_;  // empty on a socket
  std::string eeprom_path_;
  std::string log_path_;
};
#endif

// The default image's seven write commands as the device is sent them.
extern const std::vector<std::string> k_default_write_commands;

}  // namespace murve_test
