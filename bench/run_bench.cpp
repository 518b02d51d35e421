// run_bench: times complete murvecolor runs against murvesim on a pseudo-terminal and prints the
// wall time, the CPU time and the peak memory of each kind of line.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// 10 + 10 ms identification, 7 x 50 ms writes, 50 ms signature, 7 x 10 ms reads.
constexpr double k_floor_ms = 10 + 10 + 7 * 50 + 50 + 7 * 10;
// A run that hangs is killed after this, so that the benchmark always ends.
constexpr auto k_run_timeout = std::chrono::seconds(30);
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

volatile std::sig_atomic_t g_stop_signal = 0;

// Stopped early (Ctrl-C, or output into a closed pipe): the run in progress is killed, and the
// main loop then stops murvesim and removes its files before dying of the same signal.
void request_stop(int signal_number) {
  g_stop_signal = signal_number;
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

// One murvecolor run as a user types it, in `dir` where its murve_color.cfg is.
RunSample run_once(const Options& options, const murve_test::TempDir& dir,
                   const murve_test::SimulatedDevice& device, std::string& output) {
  // Kills the run at once when the benchmark is stopped; a signal cuts run_process's wait short.
  const murve_test::SignalAfter kill_when_stopped{SIGKILL, std::chrono::milliseconds(0),
                                                  [] { return g_stop_signal != 0; }};
  const murve_test::ProcessResult run =
      murve_test::run_process({options.murvecolor, "-com", "5"}, {device.com5_variable()},
                              k_run_timeout, dir.path(), kill_when_stopped);
  output = run.output;
  RunSample sample;
  sample.wall_ms = run.elapsed.count();
  sample.cpu_ms = run.cpu_time.count();
  // Linux counts in the child's peak RSS what it held of ours before exec: far less than the tool.
  sample.max_rss_kib = run.peak_rss_kib;
  sample.complete = !run.timed_out && run.exit_status == 0 &&
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

double load_average() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Runs every kind of line; 0 when every run programmed and read back the device in full.
int run_scenarios(const Options& options, const std::string& settings) {
  const std::vector<Scenario> scenarios = {
      {"pty at full speed", {"--instant"}},
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
    // The device's link, EEPROM and log, and the settings file the runs find there.
    const murve_test::TempDir dir;
    murve_test::write_file(dir.file("murve_color.cfg"), settings);
    const murve_test::SimulatedDevice device(dir, scenarios[i].sim_options, options.murvesim);
    if (!device.started() && g_stop_signal == 0) {
      std::fprintf(stderr, "run_bench: murvesim did not start (%s)\n", options.murvesim.c_str());
      return 1;
    }
    std::string output;
    const RunSample warm_up = run_once(options, dir, device, output);
    if (reference.empty() && warm_up.complete) {
      reference = programmed_part(output);
    }
    std::vector<RunSample> samples;
    int incomplete = 0;
    for (int run = 0; run < options.runs && g_stop_signal == 0; ++run) {
      RunSample sample = run_once(options, dir, device, output);
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
    return 1;
  }
  std::printf("\nload average %.2f at the end\n", load_average());
  return failures == 0 && !reference.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  std::string settings;  // empty: the defaults
  if (!options.config.empty()) {
    settings = murve_test::read_file(options.config);
    if (settings.empty()) {
      std::fprintf(stderr, "run_bench: cannot read %s, or it is empty\n", options.config.c_str());
      return 2;
    }
  }
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    std::signal(signal_number, request_stop);
  }
  int status = 1;
  try {
    status = run_scenarios(options, settings);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "run_bench: %s\n", error.what());
  }
  // Stopped: murvesim is stopped and the files are gone by now; die of the same signal.
  if (g_stop_signal != 0) {
    std::signal(g_stop_signal, SIG_DFL);
    std::raise(g_stop_signal);
  }
  return status;
}
