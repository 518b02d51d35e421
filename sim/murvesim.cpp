// murvesim: a simulated MURVE Pro console, for running murvecolor without the device. It serves
// a pseudo-terminal, whose slave side is reached through a symbolic link that the user names, or
// a Unix socket that a virtual machine's serial port listens on; by default at the pace of a
// real line seen through a USB serial adapter.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "common/atomic_file.h"
#include "common/message.h"
#include "common/platform.h"
#include "common/report.h"
#include "device/termios_rates.h"
#include "device/unique_fd.h"
#include "settings/unique_file.h"
#include "sim/murve_console.h"
#include "sim/paced_line.h"

// The version is set once, by project() in CMakeLists.txt.
#ifndef MURVECOLOR_VERSION
#error "MURVECOLOR_VERSION is defined by the build"
#endif

namespace {

using murve::message;
using murvesim::Clock;
using std::chrono::milliseconds;

constexpr const char* k_program = "murvesim";
constexpr int k_poll_interval_ms = 200;
constexpr long k_default_baud = 115200;
// An FTDI adapter's packet of 64 bytes carries two status bytes and 62 of the line's.
constexpr std::size_t k_adapter_chunk_bytes = 62;
constexpr long k_default_latency_ms = 16;
constexpr auto k_connect_patience = std::chrono::seconds(5);
constexpr int k_connect_retry_ms = 50;
constexpr Clock::time_point k_never = Clock::time_point::max();

// The termios constant of a rate a host can set on the terminal side.
std::optional<speed_t> speed_of(long baud) {
  if (baud <= 0 || baud > std::numeric_limits<unsigned>::max()) {
    return std::nullopt;
  }
  return murve::termios_speed(static_cast<unsigned>(baud));
}

struct SimOptions {
  std::string link_path;
  std::string connect_path;
  int com_number = 5;
  std::string eeprom_path;
  std::string log_path;
  bool silent = false;
  int delay_ms = 0;
  int split_ms = -1;
  long baud = 0;  // 0: not given
  long latency_ms = k_default_latency_ms;
  bool instant = false;
  long expect_baud = 0;  // 0: any rate
  long hangup_after = -1;
  long stall_after = -1;
  long stall_for_ms = -1;  // -1: for good
  long twice_after = -1;
  long twice_gap_ms = 30;
  murvesim::ConsoleQuirks quirks;
};

volatile std::sig_atomic_t g_stop_requested = 0;

// Every signal whose default action ends the process is a stop request, so that the link goes
// with murvesim; but SIGTRAP and SIGSYS only as another process sends them: raised by the
// kernel for murvesim's own fault, they keep their default action.
void request_stop(int signal_number, siginfo_t* info, void*) {
  const bool sent =
      info->si_code == SI_USER || info->si_code == SI_QUEUE || info->si_code == SI_TKILL;
  if ((signal_number == SIGTRAP || signal_number == SIGSYS) && !sent) {
    // Taken once the handler returns, by the default action.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_stop_requested = 1;
}

constexpr int k_stopping_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTRAP, SIGABRT,   SIGUSR1, SIGUSR2,
    SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef __linux__
    SIGSTKFLT, SIGPWR,
#endif
};

constexpr const char* k_usage =
    N_("usage: murvesim --link PATH [options]\n"
       "       murvesim --connect PATH [options]\n"
       "       murvesim --help | --version\n"
       "  --link PATH        make PATH a symbolic link to the simulated port, a pseudo-terminal\n"
       "  --connect PATH     serve the Unix socket at PATH instead (a virtual machine's serial\n"
       "                     port); exit when its other end closes\n"
       "  --com N            the COM number to suggest in the command line printed (default 5)\n"
       "  --eeprom FILE      load the 512-byte EEPROM from FILE (erased to ff when it is absent)\n"
       "                     and save it there after every write\n"
       "  --log FILE         append every byte received to FILE\n"
       "  --baud N           the line's rate, both ways, ten bits a byte (default 115200)\n"
       "  --latency MS       the USB adapter's latency timer: what came off the line goes to the\n"
       "                     host in chunks of 62 bytes, or MS milliseconds after their first\n"
       "                     (default 16)\n"
       "  --instant          no line: handle input as read and write answers whole at once, or\n"
       "                     with --baud a byte at a time at that pace\n"
       "  --expect-baud N    answer h with garbage unless the port is set to N baud (--link only)\n"
       "  --silent           never answer\n"
       "  --delay MS         wait MS milliseconds before each answer\n"
       "  --split MS         send each answer in two halves, MS milliseconds apart\n"
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
       "  --version          print the version and exit\n");

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
      murve::print_output("%s", message(k_usage).c_str());
      std::exit(0);
    }
    if (option == "--version") {
      std::printf("murvesim (murvecolor) %s\n", MURVECOLOR_VERSION);
      std::exit(0);
    }
    if (option == "--link" && has_value) {
      options.link_path = argv[++i];
    } else if (option == "--connect" && has_value) {
      options.connect_path = argv[++i];
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
    } else if (option == "--latency" && take_number(value)) {
      options.latency_ms = value;
    } else if (option == "--instant") {
      options.instant = true;
    } else if (option == "--expect-baud" && take_number(value) && speed_of(value)) {
      options.expect_baud = value;
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
      murve::report_problem(k_program, message("bad option or value: {option}",
                                               {{"option", murve::quoted_word(option)}}));
      murve::print_error(message(k_usage));
      return std::nullopt;
    }
  }
  // A socket has no line rate to look at.
  if (options.link_path.empty() == options.connect_path.empty() ||
      (options.expect_baud != 0 && !options.connect_path.empty())) {
    murve::print_error(message(k_usage));
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

// The symbolic link to the simulated port; removed when murvesim ends.
class PortLink {
 public:
  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink() {
    if (!path_.empty()) {
      unlink(path_.c_str());
    }
  }

  // Makes `path` a link to `target`, replacing a symbolic link there but no other file.
  bool make(const std::string& path, const std::string& target) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
      unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
      return false;
    }
    path_ = path;
    return true;
  }

 private:
  std::string path_;
};

// A pseudo-terminal with its slave side held open, so that the master never reads a hang-up
// between clients.
struct Pty {
  murve::UniqueFd master;
  murve::UniqueFd slave;
  std::string slave_path;
};

std::optional<Pty> open_pty() {
  Pty pty;
  pty.master = murve::UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  const char* slave_name = nullptr;
  if (!pty.master || grantpt(pty.master.get()) != 0 || unlockpt(pty.master.get()) != 0 ||
      (slave_name = ptsname(pty.master.get())) == nullptr) {
    murve::report_problem(k_program,
                          message("cannot open a pseudo-terminal: {reason}",
                                  {{"reason", murve::sentence_of(std::strerror(errno))}}));
    return std::nullopt;
  }
  pty.slave_path = slave_name;
  pty.slave = murve::UniqueFd(open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios raw{};
  if (!pty.slave || tcgetattr(pty.slave.get(), &raw) != 0) {
    murve::report_problem(k_program, message("cannot set up the pseudo-terminal {path}: {reason}",
                                             {{"reason", murve::sentence_of(std::strerror(errno))},
                                              {"path", murve::printable(pty.slave_path)}}));
    return std::nullopt;
  }
  // A real line carries bytes unchanged, and a serial port comes up at 9600 baud; the host sets
  // its own mode when it opens the port.
  cfmakeraw(&raw);
  if (cfsetispeed(&raw, B9600) != 0 || cfsetospeed(&raw, B9600) != 0 ||
      tcsetattr(pty.slave.get(), TCSANOW, &raw) != 0) {
    murve::report_problem(k_program, message("cannot set up the pseudo-terminal {path}: {reason}",
                                             {{"reason", murve::sentence_of(std::strerror(errno))},
                                              {"path", murve::printable(pty.slave_path)}}));
    return std::nullopt;
  }
  return pty;
}

// Connects to the Unix socket listening at `path`, trying again while there is none yet, for
// k_connect_patience at most. Sets errno when it gives up.
murve::UniqueFd connect_socket(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return {};
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const auto give_up = Clock::now() + k_connect_patience;
  for (;;) {
    murve::UniqueFd socket_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_fd || connect(socket_fd.get(), reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) == 0) {
      return socket_fd;
    }
    const int error = errno;
    const bool not_yet = error == ENOENT || error == ECONNREFUSED || error == EINTR;
    if (!not_yet || Clock::now() >= give_up || g_stop_requested != 0) {
      errno = error;
      return {};
    }
    poll(nullptr, 0, k_connect_retry_ms);
  }
}

// An answer waiting for its turn on the line.
struct Answer {
  std::optional<Clock::time_point> due;  // none yet: `gap` after the answer before has gone out
  std::string bytes;
  Clock::duration gap{};
};

// The shape of the line murvesim serves: paced and chunked, or none at all with --instant.
murvesim::UsbAdapter host_side(const SimOptions& options) {
  if (options.instant) {
    const bool paced = options.baud > 0;
    return murvesim::UsbAdapter(paced ? murvesim::byte_time(options.baud) : Clock::duration::zero(),
                                paced ? 1 : std::numeric_limits<std::size_t>::max(),
                                Clock::duration::zero());
  }
  return murvesim::UsbAdapter(murvesim::byte_time(options.baud > 0 ? options.baud : k_default_baud),
                              k_adapter_chunk_bytes, milliseconds(options.latency_ms));
}

Clock::duration device_side(const SimOptions& options) {
  if (options.instant) {
    return Clock::duration::zero();
  }
  return murvesim::byte_time(options.baud > 0 ? options.baud : k_default_baud);
}

bool past(long commands, std::size_t handled) {
  return commands >= 0 && handled > static_cast<std::size_t>(commands);
}

// The console served over one descriptor, on the line's schedule: what the host writes travels
// to the console, and what it answers travels back, each at the line's pace.
class Server {
 public:
  Server(const SimOptions& options, murvesim::MurveConsole& console, int fd, std::FILE* log,
         std::function<bool()> heard_at_its_rate)
      : options_(options),
        console_(console),
        fd_(fd),
        log_(log),
        heard_at_its_rate_(std::move(heard_at_its_rate)),
        incoming_(device_side(options)),
        outgoing_(host_side(options)) {}

  // Serves until a stop request, a hang-up or the end of the line.
  void run() {
    while (g_stop_requested == 0 && !ended_) {
      const Clock::time_point now = Clock::now();
      catch_up(now);
      if (log_ != nullptr) {
        std::fflush(log_);
      }
      write_delivered();
      if (ended_) {
        break;
      }
      const bool reading = now >= blocked_until_;
      pollfd ready{fd_, 0, 0};
      ready.events = static_cast<short>((reading ? POLLIN : 0) |
                                        (outgoing_.delivered().empty() ? 0 : POLLOUT));
      if (poll(&ready, 1, timeout_ms(now)) <= 0) {
        continue;
      }
      if ((ready.revents & POLLIN) != 0) {
        read_input();
      } else if ((ready.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        ended_ = true;
      }
    }
  }

 private:
  std::optional<Clock::time_point> answer_due() const {
    if (answers_.empty() || !answers_.front().due) {
      return std::nullopt;
    }
    return std::max(*answers_.front().due, blocked_until_);
  }

  std::optional<Clock::time_point> arrival_due() const {
    if (incoming_.empty()) {
      return std::nullopt;
    }
    return std::max(incoming_.arrival(), blocked_until_);
  }

  std::optional<Clock::time_point> late_due() const { return late_ ? late_->due : std::nullopt; }

  // Everything due by `now`, in the order it falls due.
  void catch_up(Clock::time_point now) {
    while (!ended_) {
      const std::optional<Clock::time_point> answer = answer_due();
      const std::optional<Clock::time_point> late = late_due();
      const std::optional<Clock::time_point> arrival = arrival_due();
      const Clock::time_point next =
          std::min({answer.value_or(k_never), late.value_or(k_never), arrival.value_or(k_never)});
      if (next > now) {
        break;
      }
      if (answer == next) {
        send_answer(next);
      } else if (late == next) {
        queue_answer(next, std::move(late_->bytes));
        late_.reset();
      } else {
        handle_arrival(next);
      }
    }
    outgoing_.advance(now);
  }

  int timeout_ms(Clock::time_point now) const {
    Clock::time_point next =
        std::min({answer_due().value_or(k_never), late_due().value_or(k_never),
                  arrival_due().value_or(k_never), outgoing_.next_chunk().value_or(k_never)});
    if (blocked_until_ > now) {
      next = std::min(next, blocked_until_);  // to read again
    }
    const auto left = std::chrono::ceil<milliseconds>(next - now);
    return static_cast<int>(std::clamp<long long>(left.count(), 0, k_poll_interval_ms));
  }

  void read_input() {
    std::array<char, 4096> received{};
    const ssize_t got = read(fd_, received.data(), received.size());
    if (got > 0) {
      incoming_.send(Clock::now(),
                     std::string_view(received.data(), static_cast<std::size_t>(got)));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      ended_ = true;
    }
  }

  void write_delivered() {
    std::string& waiting = outgoing_.delivered();
    while (!waiting.empty()) {
      const ssize_t written = write(fd_, waiting.data(), waiting.size());
      if (written > 0) {
        waiting.erase(0, static_cast<std::size_t>(written));
      } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
      } else {
        ended_ = true;  // the other end is gone
        return;
      }
    }
  }

  // The console takes a byte that has arrived at `at`.
  void handle_arrival(Clock::time_point at) {
    const char byte = incoming_.take();
    if (log_ != nullptr) {
      std::fputc(static_cast<unsigned char>(byte), log_);
    }
    const std::size_t helps_before = console_.helps_answered();
    std::string answer = console_.receive(byte);
    const std::size_t handled = console_.commands_handled();
    if (past(options_.hangup_after, handled)) {
      ended_ = true;
      return;
    }
    if (!stalled_ && past(options_.stall_after, handled)) {
      stalled_ = true;
      blocked_until_ =
          options_.stall_for_ms < 0 ? k_never : at + milliseconds(options_.stall_for_ms);
    }
    if (!options_.eeprom_path.empty() && console_.writes_stored() != writes_saved_) {
      save_eeprom(options_.eeprom_path, console_.eeprom());
      writes_saved_ = console_.writes_stored();
    }
    // A device heard at another rate than its own: what the host reads back is noise.
    if (console_.helps_answered() != helps_before && heard_at_its_rate_ && !heard_at_its_rate_()) {
      for (char& sent : answer) {
        sent = static_cast<char>(static_cast<unsigned char>(sent) | 0x80);
      }
    }
    queue_answer(at, std::move(answer));
    if (!answered_twice_ && past(options_.twice_after, handled)) {
      answered_twice_ = true;
      late_ = Answer{at + milliseconds(options_.twice_gap_ms), console_.repeated_read_reply()};
    }
  }

  void queue_answer(Clock::time_point at, std::string bytes) {
    if (options_.silent || bytes.empty()) {
      return;
    }
    const Clock::time_point due = at + milliseconds(options_.delay_ms);
    if (options_.split_ms >= 0 && bytes.size() > 1) {
      const std::size_t half = bytes.size() / 2;
      answers_.push_back(Answer{due, bytes.substr(0, half)});
      answers_.push_back(Answer{std::nullopt, bytes.substr(half), milliseconds(options_.split_ms)});
    } else {
      answers_.push_back(Answer{due, std::move(bytes)});
    }
  }

  void send_answer(Clock::time_point at) {
    outgoing_.send(at, answers_.front().bytes);
    answers_.pop_front();
    if (!answers_.empty() && !answers_.front().due) {
      answers_.front().due = outgoing_.line_free_at() + answers_.front().gap;
    }
  }

  const SimOptions& options_;
  murvesim::MurveConsole& console_;
  int fd_;
  std::FILE* log_;
  std::function<bool()> heard_at_its_rate_;  // empty: at any rate
  murvesim::Wire incoming_;
  murvesim::UsbAdapter outgoing_;
  std::deque<Answer> answers_;
  std::optional<Answer> late_;
  Clock::time_point blocked_until_{};  // stalled until then: neither reads nor answers
  std::size_t writes_saved_ = 0;
  bool stalled_ = false;
  bool answered_twice_ = false;
  bool ended_ = false;
};

int serve(const SimOptions& options) {
  murvesim::MurveConsole console(options.quirks);
  if (!options.eeprom_path.empty() && !load_eeprom(options.eeprom_path, console.eeprom())) {
    murve::report_problem(k_program, message("{file} is not a 512-byte EEPROM image",
                                             {{"file", murve::printable(options.eeprom_path)}}));
    return 1;
  }
  // Set before the link exists, so that a stop request from then on removes it again.
  struct sigaction stop {};
  stop.sa_sigaction = request_stop;
  stop.sa_flags = SA_SIGINFO;  // no SA_RESTART: a blocked wait returns to see the request
  for (int signal_number : k_stopping_signals) {
    if (sigemptyset(&stop.sa_mask) != 0 || sigaction(signal_number, &stop, nullptr) != 0) {
      murve::report_problem(k_program,
                            message("cannot handle signal {signal}: {reason}",
                                    {{"signal", std::to_string(signal_number)},
                                     {"reason", murve::sentence_of(std::strerror(errno))}}));
      return 1;
    }
  }
  // Best effort: a tool may keep one for itself (valgrind keeps SIGRTMAX).
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaction(signal_number, &stop, nullptr);
  }
  // A socket whose other end has gone fails the write instead.
  std::signal(SIGPIPE, SIG_IGN);

  std::optional<Pty> pty;
  PortLink link;  // goes before the pty: then closing the master hangs up whoever has the slave
  murve::UniqueFd socket_fd;
  std::function<bool()> heard_at_its_rate;
  if (options.connect_path.empty()) {
    pty = open_pty();
    if (!pty) {
      return 1;
    }
    if (!link.make(options.link_path, pty->slave_path)) {
      murve::report_problem(k_program,
                            message("cannot link {link}: {reason}",
                                    {{"reason", murve::sentence_of(std::strerror(errno))},
                                     {"link", murve::printable(options.link_path)}}));
      return 1;
    }
    if (options.expect_baud != 0) {
      // On Linux the master reads the slave's settings, as the host left them.
      heard_at_its_rate = [master = pty->master.get(), speed = *speed_of(options.expect_baud)] {
        termios now{};
        return tcgetattr(master, &now) == 0 && cfgetospeed(&now) == speed;
      };
    }
    // Scripts and the tests wait for this line: it is no message, and the same in every language.
    std::printf("MURVECOLOR_COM%d=%s murvecolor -com %d\n", options.com_number,
                options.link_path.c_str(), options.com_number);
  } else {
    socket_fd = connect_socket(options.connect_path);
    if (!socket_fd) {
      if (g_stop_requested != 0) {
        return 0;
      }
      murve::report_problem(k_program,
                            message("cannot connect to {socket}: {reason}",
                                    {{"reason", murve::sentence_of(std::strerror(errno))},
                                     {"socket", murve::printable(options.connect_path)}}));
      return 1;
    }
    std::printf("connected to %s\n", options.connect_path.c_str());  // the same, on a socket
  }
  std::fflush(stdout);
  const int served_fd = pty ? pty->master.get() : socket_fd.get();
  // Writes that would wait leave the bytes queued, so the loop goes on serving.
  fcntl(served_fd, F_SETFL, fcntl(served_fd, F_GETFL) | O_NONBLOCK);

  const murve::UniqueFile log(
      options.log_path.empty() ? nullptr : std::fopen(options.log_path.c_str(), "ab"));
  Server(options, console, served_fd, log.get(), std::move(heard_at_its_rate)).run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  murve::choose_message_language();
  const std::optional<SimOptions> options = parse_options(argc, argv);
  if (!options) {
    return 2;
  }
  return serve(*options);
}
