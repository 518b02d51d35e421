#pragma once

// A small Linux machine under QEMU, for the tests that need the kernel's own 8250 UART driver:
// what a pseudo-terminal can't show (flow control, a node without a UART, closing_wait). Its
// console takes shell commands from the test and hands back their output.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace murve_test {

struct MachineSetup {
  std::string kernel;  // a vmlinuz with the 8250 driver built in
  // Programs and files put into its initramfs: {path in the machine, file here}.
  std::vector<std::pair<std::string, std::string>> files;
  std::string com2_socket;  // COM2 (/dev/ttyS1) is served on this Unix socket, for a device
  std::string pci_tty;      // a PCI UART (/dev/ttyS4) goes to this tty, whose CTS never rises
};

struct GuestResult {
  std::string output;
  std::string error_output;
  int exit_status = -1;  // the shell's: 128 + N for a program killed by signal N
  bool timed_out = false;
};

class TestMachine {
 public:
  // Builds the initramfs and boots; error() says why when the machine did not come up.
  TestMachine(const TempDir& dir, const MachineSetup& setup);
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::string& error() const { return error_; }

  // Runs one line of shell in the machine (in /tmp), to its end.
  GuestResult run(const std::string& command,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

 private:
  bool read_line(std::string& line, std::chrono::steady_clock::time_point deadline);

  std::string error_;
  int pid_ = -1;
  int to_console_ = -1;
  int from_console_ = -1;
  std::string pending_;
  int commands_ = 0;
};

}  // namespace murve_test
