#include "test_support.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace murve_test {

const std::vector<std::string> k_default_write_commands = {
    "eepromex 082 ff ff fc e0 1c f8 e0 f8 1c 1f 3f 3f 3f ff 03 c0 92 e0 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00\n",
    "eepromex 0a2 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00\n",
    "eepromex 0c2 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 3f "
    "20 00 20 3f 20 00\n",
    "eepromex 0e2 20 3f 20 00 3f 20 00 00 3f 20 00 00 3f 20 00 00 3f 20 00 00 3f 20 00 00 3f 20 "
    "00 00 3f 3f 3f 00\n",
    "eepromex 102 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 3f 00 20 20 "
    "3f 00 20 20 3f 00\n",
    "eepromex 122 00 00 ff 00 00 ff 00 00 ff 00 00 ff 00 ff 00 00 ff 00 00 ff 00 00 ff 00 00 ff "
    "ff 00 ff ff 00 ff\n",
    "eepromex 142 ff 00 ff ff ff ff 00 ff ff 00 ff ff 00 ff ff 00\n",
};

std::vector<std::uint8_t> hex_bytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  unsigned value = 0;
  int used = 0;
  for (const char* p = text.c_str(); std::sscanf(p, "%2x%n", &value, &used) == 1; p += used) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const auto candidate =
        base / ("murvecolor-test-" + std::to_string(std::rand()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("no temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

const char* test_wrapper() {
  const char* wrapper = std::getenv("MURVECOLOR_TEST_WRAPPER");
  return wrapper != nullptr && wrapper[0] != '\0' ? wrapper : nullptr;
}

}  // namespace

std::vector<std::string> murvecolor_command(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  if (const char* wrapper = test_wrapper()) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) {
      argv.push_back(word);
    }
  }
  argv.push_back(MURVECOLOR_EXE);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::chrono::milliseconds run_bound(std::chrono::milliseconds plain) {
  // valgrind takes seconds to start and runs the program many times slower.
  return test_wrapper() != nullptr ? 3 * plain : plain;
}

ProcessResult run_murvecolor(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment,
                             const std::string& working_dir) {
  return run_process(murvecolor_command(arguments), environment,
                     run_bound(std::chrono::seconds(20)), working_dir);
}

#ifndef _WIN32
namespace {

using Clock = std::chrono::steady_clock;

Milliseconds milliseconds_of(const timeval& time) {
  return std::chrono::seconds(time.tv_sec) + std::chrono::microseconds(time.tv_usec);
}

// A wrapper's own lines on standard error ("==123== Warning: ..." from valgrind) are not the
// program's: they go to the test's log, and valgrind's findings fail the run by its exit status.
void drop_wrapper_lines(std::string& error_output) {
  std::string kept;
  std::istringstream lines(error_output);
  for (std::string line; std::getline(lines, line);) {
    const bool wrappers = line.size() > 2 && line.rfind("==", 0) == 0 &&
                          line.find("== ", 2) != std::string::npos &&
                          line.find_first_not_of("0123456789", 2) == line.find("== ", 2);
    if (wrappers) {
      std::cerr << line << '\n';
    } else {
      kept += line + '\n';
    }
  }
  if (!error_output.empty() && error_output.back() != '\n' && !kept.empty()) {
    kept.pop_back();
  }
  error_output = kept;
}

}  // namespace

[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             const std::string& working_dir) {
  for (const std::string& variable : environment) {
    putenv(const_cast<char*>(variable.c_str()));
  }
  if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) {
    _exit(126);
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment,
                          std::chrono::milliseconds timeout, const std::string& working_dir,
                          SignalAfter signal) {
  ProcessResult result;
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  const auto started = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, STDIN_FILENO);
    exec_child(argv, environment, working_dir);
  }
  close(out[1]);
  close(err[1]);
  const auto deadline = started + timeout;
  const auto signal_at = started + signal.after;
  bool signal_pending = signal.signal_number != 0;
  std::array<pollfd, 2> streams = {pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
  std::array<std::string*, 2> captured = {&result.output, &result.error_output};
  char buffer[65536];
  while (streams[0].fd >= 0 || streams[1].fd >= 0) {
    if (signal_pending && Clock::now() >= signal_at && (!signal.ready || signal.ready())) {
      kill(pid, signal.signal_number);
      signal_pending = false;
    }
    // While waiting to be ready, looks again every 10 ms.
    const auto next_look =
        Clock::now() >= signal_at ? Clock::now() + std::chrono::milliseconds(10) : signal_at;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        (signal_pending ? std::min(deadline, next_look) : deadline) - Clock::now());
    if (signal_pending && left.count() <= 0 && Clock::now() < deadline) {
      continue;
    }
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(streams.data(), streams.size(), static_cast<int>(left.count())) <= 0) {
      continue;
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) {
        continue;
      }
      const ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(streams[i].fd);
        streams[i].fd = -1;  // poll ignores it from now on
        continue;
      }
      captured[i]->append(buffer, static_cast<std::size_t>(got));
    }
  }
  for (const pollfd& stream : streams) {
    if (stream.fd >= 0) {
      close(stream.fd);
    }
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.elapsed = Clock::now() - started;
  result.cpu_time = milliseconds_of(usage.ru_utime) + milliseconds_of(usage.ru_stime);
  result.peak_rss_kib = usage.ru_maxrss;  // in KiB on Linux
  drop_wrapper_lines(result.error_output);
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  return result;
}

SimulatedDevice::SimulatedDevice(const TempDir& dir, const std::vector<std::string>& options,
                                 const std::string& program) {
  const std::string link = dir.file("murve-com5");
  eeprom_path_ = dir.file("eeprom.bin");
  log_path_ = dir.file("received.log");
  std::vector<std::string> argv = {program.empty() ? std::string(MURVESIM_EXE) : program};
  // Served on a socket (--connect) it has no link of its own.
  const bool on_socket = std::find(options.begin(), options.end(), "--connect") != options.end();
  if (!on_socket) {
    argv.insert(argv.end(), {"--link", link});
  }
  argv.insert(argv.end(), {"--eeprom", eeprom_path_, "--log", log_path_});
  argv.insert(argv.end(), options.begin(), options.end());
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    exec_child(argv, {}, "");
  }
  close(out[1]);
  stdout_fd_ = out[0];
  // The simulator prints its command line once the link is in place.
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd ready{stdout_fd_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) {
      continue;
    }
    char c = 0;
    if (read(stdout_fd_, &c, 1) != 1) {
      break;
    }
    line += c;
  }
  if (line.find(on_socket ? "connected to " : link) != std::string::npos) {
    link_path_ = on_socket ? "" : link;
    ready_ = true;
  }
}

SimulatedDevice::~SimulatedDevice() {
  stop();
}

void SimulatedDevice::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  if (stdout_fd_ >= 0) {
    close(stdout_fd_);
    stdout_fd_ = -1;
  }
}

std::string SimulatedDevice::eeprom() const {
  const std::string saved = read_file(eeprom_path_);
  return saved.empty() ? std::string(512, '\xff') : saved;
}
#endif

}  // namespace murve_test
