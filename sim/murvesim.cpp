// murvesim: a simulated MURVE Pro console on a pseudo-terminal, for running murvecolor without
// the device. Its slave side is reached through a symbolic link that the user names.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "device/unique_fd.h"
#include "settings/files.h"
#include "sim/murve_console.h"

// The version is set once, by project() in CMakeLists.txt.
#ifndef MURVECOLOR_VERSION
#error "MURVECOLOR_VERSION is defined by the build"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int k_poll_interval_ms = 200;
constexpr int k_bits_per_byte = 10;  // start bit, eight data bits, stop bit

struct SimOptions {
  std::string link_path;
  int com_number = 5;
  std::string eeprom_path;
  std::string log_path;
  bool silent = false;
  int delay_ms = 0;
  int split_ms = -1;
  long baud = 0;
  long hangup_after = -1;
  long stall_after = -1;
  long stall_for_ms = -1;  // -1: for good
  long twice_after = -1;
  long twice_gap_ms = 30;
  murvesim::ConsoleQuirks quirks;
};

volatile std::sig_atomic_t g_stop_requested = 0;

void request_stop(int) {
  g_stop_requested = 1;
}

constexpr const char* k_usage =
    "usage: murvesim --link PATH [options]\n"
    "       murvesim --help | --version\n"
    "  --link PATH        make PATH a symbolic link to the simulated port\n"
    "  --com N            the COM number to suggest in the command line printed (default 5)\n"
    "  --eeprom FILE      load the 512-byte EEPROM from FILE (erased to ff when it is absent)\n"
    "                     and save it there after every write\n"
    "  --log FILE         append every byte received to FILE\n"
    "  --silent           never answer\n"
    "  --delay MS         wait MS milliseconds before each answer\n"
    "  --split MS         send each answer in two halves, MS milliseconds apart\n"
    "  --baud N           send answers at the pace of a line of N baud (8N1)\n"
    "  --crlf             end answer lines with CR LF\n"
    "  --upper-hex        answer reads in upper-case hex\n"
    "  --no-murve         leave \"MURVE\" out of the help banner\n"
    "  --echo             echo every received character\n"
    "  --nul              begin every answer with a NUL byte\n"
    "  --nul-after N      put a NUL byte after the first N bytes of every answer\n"
    "  --flood N          send N filler bytes after the help banner\n"
    "  --reply-size N     pad the answers to h and to reads to N bytes, filler first\n"
    "  --wake-size N      pad the answer to an empty line to N bytes, filler first\n"
    "  --corrupt ADDR     store every byte written at ADDR (hex) with its lowest bit\n"
    "                     flipped; may be given more than once\n"
    "  --garbage          send the byte values 01-ff before every answer and 00 after it\n"
    "  --hangup-after N   hang up when command N+1 arrives, unanswered\n"
    "  --stall-after N    when command N+1 arrives, stop reading and answering...\n"
    "  --stall-for MS     ...for MS milliseconds, then go on (default: for good)\n"
    "  --twice-after N    answer command N+1, then again with a whole read reply...\n"
    "  --twice-gap MS     ...MS milliseconds later (default 30)\n"
    "  --help             print this text and exit\n"
    "  --version          print the version and exit\n";

bool parse_number(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= 0;
}

// An EEPROM address in hex, with or without 0x.
bool parse_address(const char* text, std::size_t& address) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.erase(0, 2);
  }
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  address = std::stoul(digits, nullptr, 16);
  return address < murvesim::k_eeprom_size;
}

std::optional<SimOptions> parse_options(int argc, char** argv) {
  SimOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool has_value = i + 1 < argc;
    long number = 0;
    auto take_number = [&](long& into) {
      if (!has_value || !parse_number(argv[++i], number)) {
        return false;
      }
      into = number;
      return true;
    };
    long value = 0;
    std::size_t address = 0;
    if (option == "--help" || option == "-h") {
      std::printf("%s", k_usage);
      std::exit(0);
    }
    if (option == "--version") {
      std::printf("murvesim (murvecolor) %s\n", MURVECOLOR_VERSION);
      std::exit(0);
    }
    if (option == "--link" && has_value) {
      options.link_path = argv[++i];
    } else if (option == "--log" && has_value) {
      options.log_path = argv[++i];
    } else if (option == "--eeprom" && has_value) {
      options.eeprom_path = argv[++i];
    } else if (option == "--com" && take_number(value) && value >= 1 && value <= 16) {
      options.com_number = static_cast<int>(value);
    } else if (option == "--delay" && take_number(value)) {
      options.delay_ms = static_cast<int>(value);
    } else if (option == "--split" && take_number(value)) {
      options.split_ms = static_cast<int>(value);
    } else if (option == "--baud" && take_number(value) && value > 0) {
      options.baud = value;
    } else if (option == "--flood" && take_number(value)) {
      options.quirks.flood_bytes = static_cast<std::size_t>(value);
    } else if (option == "--reply-size" && take_number(value)) {
      options.quirks.reply_size = static_cast<std::size_t>(value);
    } else if (option == "--wake-size" && take_number(value)) {
      options.quirks.wake_size = static_cast<std::size_t>(value);
    } else if (option == "--corrupt" && has_value && parse_address(argv[++i], address)) {
      options.quirks.corrupt.set(address);
    } else if (option == "--nul-after" && take_number(value)) {
      options.quirks.nul_in_replies = true;
      options.quirks.nul_after = static_cast<std::size_t>(value);
    } else if (option == "--hangup-after" && take_number(value)) {
      options.hangup_after = value;
    } else if (option == "--stall-after" && take_number(value)) {
      options.stall_after = value;
    } else if (option == "--stall-for" && take_number(value)) {
      options.stall_for_ms = value;
    } else if (option == "--twice-after" && take_number(value)) {
      options.twice_after = value;
    } else if (option == "--twice-gap" && take_number(value)) {
      options.twice_gap_ms = value;
    } else if (option == "--garbage") {
      options.quirks.garbage = true;
    } else if (option == "--silent") {
      options.silent = true;
    } else if (option == "--crlf") {
      options.quirks.crlf = true;
    } else if (option == "--upper-hex") {
      options.quirks.upper_hex = true;
    } else if (option == "--no-murve") {
      options.quirks.banner_names_murve = false;
    } else if (option == "--echo") {
      options.quirks.echo = true;
    } else if (option == "--nul") {
      options.quirks.nul_in_replies = true;
    } else {
      std::fprintf(stderr, "murvesim: bad option or value: %s\n%s", option.c_str(), k_usage);
      return std::nullopt;
    }
  }
  if (options.link_path.empty()) {
    std::fprintf(stderr, "%s", k_usage);
    return std::nullopt;
  }
  return options;
}

bool load_eeprom(const std::string& path, murvesim::Eeprom& eeprom) {
  const murve::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return errno == ENOENT;  // a new file starts erased
  }
  const std::size_t got = std::fread(eeprom.data(), 1, eeprom.size(), file.get());
  return got == eeprom.size() && std::fgetc(file.get()) == EOF;
}

// Saved through a temporary file and a rename, so a reader never sees half an EEPROM; not synced
// to disk, which would slow every answer to a write.
void save_eeprom(const std::string& path, const murvesim::Eeprom& eeprom) {
  murve::write_file_atomically(
      path, std::string_view(reinterpret_cast<const char*>(eeprom.data()), eeprom.size()),
      murve::FileSync::none);
}

class Line {
 public:
  Line(int master_fd, const SimOptions& options) : master_fd_(master_fd), options_(options) {}

  // Takes the time one byte spends on a slow line. Only answers are paced: the tool waits for
  // its own bytes to leave the port, which a pty can't make it do.
  void pace_byte() {
    if (options_.baud <= 0) {
      return;
    }
    const auto byte_time = std::chrono::microseconds(1000000L * k_bits_per_byte / options_.baud);
    next_byte_at_ = std::max(next_byte_at_, Clock::now()) + byte_time;
    std::this_thread::sleep_until(next_byte_at_);
  }

  void deliver(const std::string& answer) {
    if (options_.silent || answer.empty()) {
      return;
    }
    if (options_.delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.delay_ms));
    }
    if (options_.baud > 0) {
      for (char byte : answer) {
        pace_byte();
        write_all(&byte, 1);
      }
    } else if (options_.split_ms >= 0 && answer.size() > 1) {
      const std::size_t half = answer.size() / 2;
      write_all(answer.data(), half);
      std::this_thread::sleep_for(std::chrono::milliseconds(options_.split_ms));
      write_all(answer.data() + half, answer.size() - half);
    } else {
      write_all(answer.data(), answer.size());
    }
  }

 private:
  void write_all(const char* data, std::size_t length) {
    while (length > 0 && g_stop_requested == 0) {
      const ssize_t written = write(master_fd_, data, length);
      if (written > 0) {
        data += written;
        length -= static_cast<std::size_t>(written);
      } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
        return;
      } else if (written < 0 && errno == EAGAIN) {
        pollfd ready{master_fd_, POLLOUT, 0};
        poll(&ready, 1, k_poll_interval_ms);
      }
    }
  }

  int master_fd_;
  const SimOptions& options_;
  Clock::time_point next_byte_at_ = Clock::now();
};

// Neither reads nor answers for `milliseconds` (for good when negative), but still stops on
// request.
void stall(long milliseconds) {
  const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (g_stop_requested == 0 && (milliseconds < 0 || Clock::now() < until)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// An answer sent on its own schedule while the loop goes on serving.
struct LateAnswer {
  Clock::time_point due;
  std::string bytes;
};

// How long poll may wait: until the next look at the stop request, or until `late` is due.
int poll_timeout_ms(const std::optional<LateAnswer>& late) {
  if (!late) {
    return k_poll_interval_ms;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(late->due - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, k_poll_interval_ms));
}

int serve(const SimOptions& options) {
  murvesim::MurveConsole console(options.quirks);
  if (!options.eeprom_path.empty() && !load_eeprom(options.eeprom_path, console.eeprom())) {
    std::fprintf(stderr, "murvesim: %s is not a 512-byte EEPROM image\n",
                 options.eeprom_path.c_str());
    return 1;
  }
  // Set before the link exists, so that a stop request from then on removes it again.
  struct sigaction stop {};
  stop.sa_handler = request_stop;
  sigemptyset(&stop.sa_mask);  // no SA_RESTART: a blocked write returns to see the request
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(signal_number, &stop, nullptr) != 0) {
      std::fprintf(stderr, "murvesim: cannot handle signal %d: %s\n", signal_number,
                   std::strerror(errno));
      return 1;
    }
  }

  const murve::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  const char* slave_name = nullptr;
  if (!master || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
      (slave_name = ptsname(master.get())) == nullptr) {
    std::perror("murvesim: pseudo-terminal");
    return 1;
  }
  const std::string slave_path = slave_name;
  // Held open while murvesim runs, so that the master never reads a hang-up between clients.
  const murve::UniqueFd slave(open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios raw{};
  if (!slave || tcgetattr(slave.get(), &raw) != 0) {
    std::perror("murvesim: pseudo-terminal slave");
    return 1;
  }
  // A real line carries bytes unchanged; the host side sets its own mode when it opens the port.
  cfmakeraw(&raw);
  if (tcsetattr(slave.get(), TCSANOW, &raw) != 0) {
    std::perror("murvesim: pseudo-terminal slave");
    return 1;
  }

  struct stat existing {};
  if (lstat(options.link_path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
    unlink(options.link_path.c_str());
  }
  if (symlink(slave_path.c_str(), options.link_path.c_str()) != 0) {
    std::fprintf(stderr, "murvesim: cannot link %s: %s\n", options.link_path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::printf("MURVECOLOR_COM%d=%s murvecolor -com %d\n", options.com_number,
              options.link_path.c_str(), options.com_number);
  std::fflush(stdout);

  const murve::UniqueFile log(
      options.log_path.empty() ? nullptr : std::fopen(options.log_path.c_str(), "ab"));
  const int master_fd = master.get();
  Line line(master_fd, options);
  std::size_t writes_saved = 0;
  bool hung_up = false;
  bool stalled = false;
  bool answered_twice = false;
  std::optional<LateAnswer> late;
  std::array<char, 4096> received{};
  while (g_stop_requested == 0 && !hung_up) {
    if (late && Clock::now() >= late->due) {
      line.deliver(late->bytes);
      late.reset();
    }
    pollfd ready{master_fd, POLLIN, 0};
    if (poll(&ready, 1, poll_timeout_ms(late)) <= 0) {
      continue;
    }
    const ssize_t got = read(master_fd, received.data(), received.size());
    if (got <= 0) {
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        continue;
      }
      break;
    }
    if (log) {
      std::fwrite(received.data(), 1, static_cast<std::size_t>(got), log.get());
      std::fflush(log.get());
    }
    for (ssize_t i = 0; i < got && !hung_up; ++i) {
      const std::string answer = console.receive(received[static_cast<std::size_t>(i)]);
      if (options.hangup_after >= 0 &&
          console.commands_handled() > static_cast<std::size_t>(options.hangup_after)) {
        hung_up = true;
        break;
      }
      if (options.stall_after >= 0 && !stalled &&
          console.commands_handled() > static_cast<std::size_t>(options.stall_after)) {
        stalled = true;
        stall(options.stall_for_ms);
      }
      if (!options.eeprom_path.empty() && console.writes_stored() != writes_saved) {
        save_eeprom(options.eeprom_path, console.eeprom());
        writes_saved = console.writes_stored();
      }
      line.deliver(answer);
      if (options.twice_after >= 0 && !answered_twice &&
          console.commands_handled() > static_cast<std::size_t>(options.twice_after)) {
        answered_twice = true;
        late = LateAnswer{Clock::now() + std::chrono::milliseconds(options.twice_gap_ms),
                          console.repeated_read_reply()};
      }
    }
  }
  // Closing the master, last, hangs up whoever has the slave open.
  unlink(options.link_path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<SimOptions> options = parse_options(argc, argv);
  if (!options) {
    return 2;
  }
  return serve(*options);
}
