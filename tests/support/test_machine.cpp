#include "test_machine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace murve_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto k_boot_timeout = std::chrono::seconds(60);

// The machine's /init: mounts what the tools need, then runs each line that comes in on the
// console and answers "RESULT id status :output :errors", both in base64.
constexpr const char* k_init = R"init(#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
stty -F /dev/ttyS0 -echo -onlcr -icrnl
cd /tmp
echo "GUEST READY"
while read -r id command; do
  sh -c "$command" </dev/null >/tmp/.out 2>/tmp/.err
  status=$?
  echo "RESULT $id $status :$(base64 -w0 /tmp/.out) :$(base64 -w0 /tmp/.err)"
done </dev/ttyS0 >/dev/ttyS0 2>&1
poweroff -f
)init";

std::string base64_decode(const std::string& text) {
  static const std::string k_alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  unsigned bits = 0;
  int count = 0;
  for (const char c : text) {
    const std::size_t value = k_alphabet.find(c);
    if (value == std::string::npos) {
      continue;  // padding
    }
    bits = bits << 6 | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xff);
    }
  }
  return bytes;
}

}  // namespace

TestMachine::TestMachine(const TempDir& dir, const MachineSetup& setup) {
  const fs::path root = dir.file("initramfs");
  for (const char* folder : {"bin", "dev", "proc", "sys", "tmp"}) {
    fs::create_directories(root / folder);
  }
  fs::copy_file("/bin/busybox", root / "bin/busybox");
  for (const auto& [inside, outside] : setup.files) {
    fs::create_directories((root / inside.substr(1)).parent_path());
    fs::copy_file(outside, root / inside.substr(1), fs::copy_options::overwrite_existing);
  }
  write_file((root / "init").string(), k_init);
  chmod((root / "init").c_str(), 0755);
  const std::string initramfs = dir.file("initramfs.cpio");
  const ProcessResult packed = run_process(
      {"sh", "-c",
       "cd '" + root.string() + "' && find . | cpio -o -H newc --quiet > '" + initramfs + "'"});
  if (packed.exit_status != 0) {
    error_ = "cpio failed: " + packed.error_output;
    return;
  }

  const std::vector<std::string> argv = {
      "qemu-system-x86_64", "-nodefaults", "-no-reboot", "-display", "none", "-m", "256", "-kernel",
      setup.kernel, "-initrd", initramfs,
      // Quiet, so that the console carries only the commands' results; room for the PCI UART.
      "-append", "console=ttyS0 quiet loglevel=0 panic=-1 8250.nr_uarts=5", "-chardev",
      "stdio,id=console,signal=off", "-serial", "chardev:console", "-chardev",
      "socket,id=com2,path=" + setup.com2_socket + ",server=on,wait=off", "-serial", "chardev:com2",
      // A tty chardev reads the modem lines of its tty; a pty has none, so CTS stays low.
      "-chardev", "tty,id=pci,path=" + setup.pci_tty, "-device", "pci-serial,chardev=pci"};
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    error_ = "no pipes";
    return;
  }
  const std::string log = dir.file("qemu.log");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    const int errors = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(errors, STDERR_FILENO);
    exec_child(argv, {}, "");
  }
  close(in[0]);
  close(out[1]);
  to_console_ = in[1];
  from_console_ = out[0];
  const auto deadline = Clock::now() + k_boot_timeout;
  for (std::string line; read_line(line, deadline);) {
    if (line == "GUEST READY") {
      return;
    }
  }
  error_ = "the machine did not come up within 60 s: " + read_file(log);
}

TestMachine::~TestMachine() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {to_console_, from_console_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool TestMachine::read_line(std::string& line, Clock::time_point deadline) {
  for (;;) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready{from_console_, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t got = read(from_console_, buffer, sizeof buffer);
    if (got <= 0) {
      return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

GuestResult TestMachine::run(const std::string& command, std::chrono::milliseconds timeout) {
  GuestResult result;
  const std::string id = std::to_string(++commands_);
  const std::string line = id + " " + command + "\n";
  if (!error_.empty() ||
      write(to_console_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    result.timed_out = true;
    return result;
  }
  const auto deadline = Clock::now() + timeout;
  for (std::string answer; read_line(answer, deadline);) {
    std::istringstream fields(answer);
    std::string tag;
    std::string answered;
    std::string output;
    std::string errors;
    if (fields >> tag >> answered >> result.exit_status >> output >> errors && tag == "RESULT" &&
        answered == id) {
      result.output = base64_decode(output.substr(1));
      result.error_output = base64_decode(errors.substr(1));
      return result;
    }
  }
  result.timed_out = true;
  return result;
}

}  // namespace murve_test
