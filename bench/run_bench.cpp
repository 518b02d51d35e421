// run_bench: times complete murvecolor runs against murvesim on a pseudo-terminal and prints the
// wall time, the CPU time and the peak memory of each kind of line.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

// 10 + 10 ms identification, 7 x 50 ms writes, 50 ms signature, 7 x 10 ms reads.
constexpr double k_floor_ms = 10 + 10 + 7 * 50 + 50 + 7 * 10;
constexpr int k_sim_start_timeout_ms = 5000;
constexpr unsigned k_run_timeout_s = 30;
constexpr const char* k_first_write = "eepromex 082 ";

struct Options {
  std::string murvecolor = MURVECOLOR_EXE;
  std::string murvesim = MURVESIM_EXE;
  std::string config;  // empty: an empty settings file, which leaves the default image
  int runs = 20;
  int baud = 9600;
  int split_ms = 20;
};

struct Scenario {
  std::string name;
  std::vector<std::string> sim_options;
};

struct RunSample {
  double wall_ms = 0;
  double cpu_ms = 0;  // user + system
  long max_rss_kib = 0;
  bool complete = false;
};

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stop_signal = 0;

// A run that hangs is killed, so that the benchmark always ends.
void kill_stuck_child(int) {
  if (g_child > 0) {
    kill(static_cast<pid_t>(g_child), SIGKILL);
  }
}

// Stopped early (Ctrl-C, or output into a closed pipe): the run in progress ends now, and the
// main loop then stops murvesim and removes its files before dying of the same signal.
void request_stop(int signal_number) {
  g_stop_signal = signal_number;
  if (g_child > 0) {
    kill(static_cast<pid_t>(g_child), SIGKILL);
  }
}

double ms_of(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

double now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The part of a run's output that does not depend on how the banner happened to be cut.
std::string programmed_part(const std::string& output) {
  const std::size_t from = output.find(k_first_write);
  return from == std::string::npos ? std::string() : output.substr(from);
}

[[noreturn]] void usage_exit() {
  std::fprintf(stderr,
               "usage: run_bench [--runs N] [--config FILE] [--baud N] [--split MS]\n"
               "                 [--murvecolor PATH] [--murvesim PATH]\n");
  std::exit(2);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
      usage_exit();
    }
    const char* value = argv[++i];
    if (option == "--runs") {
      options.runs = std::atoi(value);
    } else if (option == "--config") {
      options.config = value;
    } else if (option == "--baud") {
      options.baud = std::atoi(value);
    } else if (option == "--split") {
      options.split_ms = std::atoi(value);
    } else if (option == "--murvecolor") {
      options.murvecolor = value;
    } else if (option == "--murvesim") {
      options.murvesim = value;
    } else {
      usage_exit();
    }
  }
  if (options.runs < 1 || options.baud < 1 || options.split_ms < 0) {
    usage_exit();
  }
  return options;
}

std::vector<char*> argv_of(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) {
    pointers.push_back(word.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// A murvesim serving one pseudo-terminal, up once it has printed its first line.
class Simulator {
 public:
  Simulator(const Options& options, const std::string& link, const Scenario& scenario) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      return;
    }
    std::vector<std::string> words = {options.murvesim, "--link", link};
    words.insert(words.end(), scenario.sim_options.begin(), scenario.sim_options.end());
    std::vector<char*> args = argv_of(words);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    const double deadline = now_ms() + k_sim_start_timeout_ms;
    char c = 0;
    while (pid_ > 0 && now_ms() < deadline && g_stop_signal == 0) {
      pollfd ready{out[0], POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(deadline - now_ms()) + 1) <= 0) {
        continue;
      }
      if (read(out[0], &c, 1) != 1) {
        break;
      }
      if (c == '\n') {
        up_ = true;
        break;
      }
    }
    close(out[0]);
  }

  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool up() const { return up_; }

 private:
  pid_t pid_ = -1;
  bool up_ = false;
};

// One murvecolor run as a user types it, in `dir` where its murve_color.cfg is.
RunSample run_once(const Options& options, const std::string& dir, const std::string& out_path,
                   std::string& output) {
  RunSample sample;
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    return sample;
  }
  std::vector<std::string> words = {options.murvecolor, "-com", "5"};
  std::vector<char*> args = argv_of(words);
  const double start = now_ms();
  // Linux counts in the child's peak RSS what it held of ours before exec: far less than the tool.
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    dup2(out, STDOUT_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out);
  if (pid < 0) {
    return sample;
  }
  g_child = pid;
  alarm(k_run_timeout_s);
  int status = 0;
  rusage usage{};
  pid_t waited = 0;
  do {
    waited = wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  const double end = now_ms();
  alarm(0);
  g_child = 0;
  sample.wall_ms = end - start;
  sample.cpu_ms = ms_of(usage.ru_utime) + ms_of(usage.ru_stime);
  sample.max_rss_kib = usage.ru_maxrss;
  output = read_whole(out_path);
  sample.complete = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                    output.find("Verify..\n0080: aa 55 ") != std::string::npos;
  return sample;
}

double percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const double position = fraction * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(position);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  const double weight = position - static_cast<double>(below);
  return values[below] * (1 - weight) + values[above] * weight;
}

void print_scenario(const Scenario& scenario, const std::vector<RunSample>& samples,
                    int incomplete) {
  std::vector<double> wall;
  std::vector<double> cpu;
  long max_rss = 0;
  for (const RunSample& sample : samples) {
    wall.push_back(sample.wall_ms);
    cpu.push_back(sample.cpu_ms);
    max_rss = std::max(max_rss, sample.max_rss_kib);
  }
  const double median = percentile(wall, 0.5);
  std::printf("%s\n", scenario.name.c_str());
  std::printf("  wall     median %7.1f ms   min %7.1f   max %7.1f   p25-p75 %7.1f-%.1f ms\n",
              median, percentile(wall, 0), percentile(wall, 1), percentile(wall, 0.25),
              percentile(wall, 0.75));
  std::printf("  floor    %.3f x the %.0f ms of fixed sleeps (%+.1f ms)\n", median / k_floor_ms,
              k_floor_ms, median - k_floor_ms);
  std::printf("  CPU      median %7.2f ms   min %7.2f   max %7.2f ms per run (user+system)\n",
              percentile(cpu, 0.5), percentile(cpu, 0), percentile(cpu, 1));
  std::printf("  peak RSS %ld KiB (the largest of the runs)\n", max_rss);
  if (incomplete > 0) {
    std::printf("  %d of %zu runs did not program and read back the device in full\n", incomplete,
                samples.size());
  }
}

void remove_work_dir(const std::string& dir, std::size_t scenario_count) {
  std::remove((dir + "/murve_color.cfg").c_str());
  for (std::size_t i = 0; i < scenario_count; ++i) {
    std::remove((dir + "/output-" + std::to_string(i)).c_str());
  }
  rmdir(dir.c_str());
}

double load_average() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  std::string settings;  // empty: the defaults
  if (!options.config.empty()) {
    settings = read_whole(options.config);
    if (settings.empty()) {
      std::fprintf(stderr, "run_bench: cannot read %s, or it is empty\n", options.config.c_str());
      return 2;
    }
  }
  std::string dir = (std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp");
  dir += "/murvecolor-bench.XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("run_bench: mkdtemp");
    return 1;
  }
  std::ofstream(dir + "/murve_color.cfg", std::ios::binary) << settings;
  struct sigaction on_alarm {};
  on_alarm.sa_handler = kill_stuck_child;
  sigemptyset(&on_alarm.sa_mask);
  sigaction(SIGALRM, &on_alarm, nullptr);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    std::signal(signal_number, request_stop);
  }

  const std::vector<Scenario> scenarios = {
      {"pty at full speed", {}},
      {"a line of " + std::to_string(options.baud) + " baud",
       {"--baud", std::to_string(options.baud)}},
      {"each answer in two pieces " + std::to_string(options.split_ms) + " ms apart",
       {"--split", std::to_string(options.split_ms)}},
  };

  std::printf("murvecolor: %d complete runs per line after one warm-up, settings %s\n",
              options.runs,
              options.config.empty() ? "(none: the defaults)" : options.config.c_str());
  std::printf("load average %.2f at the start\n\n", load_average());
  std::string reference;
  int failures = 0;
  for (std::size_t i = 0; i < scenarios.size() && g_stop_signal == 0; ++i) {
    const std::string link = dir + "/com5-" + std::to_string(i);
    Simulator sim(options, link, scenarios[i]);
    if (!sim.up() && g_stop_signal == 0) {
      std::fprintf(stderr, "run_bench: murvesim did not start (%s)\n", options.murvesim.c_str());
      remove_work_dir(dir, scenarios.size());
      return 1;
    }
    setenv("MURVECOLOR_COM5", link.c_str(), 1);
    const std::string out_path = dir + "/output-" + std::to_string(i);
    std::string output;
    const RunSample warm_up = run_once(options, dir, out_path, output);
    if (reference.empty() && warm_up.complete) {
      reference = programmed_part(output);
    }
    std::vector<RunSample> samples;
    int incomplete = 0;
    for (int run = 0; run < options.runs && g_stop_signal == 0; ++run) {
      RunSample sample = run_once(options, dir, out_path, output);
      if (!sample.complete || programmed_part(output) != reference) {
        ++incomplete;
      }
      samples.push_back(sample);
    }
    if (g_stop_signal != 0) {
      break;
    }
    print_scenario(scenarios[i], samples, incomplete);
    std::fflush(stdout);
    failures += incomplete;
  }
  if (g_stop_signal != 0) {
    remove_work_dir(dir, scenarios.size());
    std::signal(g_stop_signal, SIG_DFL);
    std::raise(g_stop_signal);
  }
  std::printf("\nload average %.2f at the end\n", load_average());
  remove_work_dir(dir, scenarios.size());
  return failures == 0 && !reference.empty() ? 0 : 1;
}
