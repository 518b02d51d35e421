// settings_reader_bench: how fast the settings reader gets through large files, and that the
// memory it takes stays that of its fixed buffers however large the file is.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "settings/color_image.h"
#include "settings/settings_file.h"

namespace {

constexpr std::size_t k_long_line_pieces = 320;  // 320 reads of 32766 characters: 10 MiB

struct GeneratedFile {
  std::string path;
  std::size_t lines = 0;
  std::size_t bytes = 0;
};

std::string g_dir;
std::map<std::int64_t, GeneratedFile> g_mixed_files;
GeneratedFile g_long_line_file;
long g_rss_at_start = 0;  // before any file was read

// Ten lines of every kind a settings file has, CR LF endings and blank lines among them.
void write_mixed_line(std::FILE* file, std::size_t i) {
  const unsigned v = static_cast<unsigned>(i & 0xff);
  switch (i % 10) {
    case 0:
      std::fprintf(file, "# colour codes, row %zu\n", i);
      break;
    case 1:
      std::fprintf(file, "c%zu = %02x\n", i % 64, v);
      break;
    case 2:
      std::fprintf(file, "\n");
      break;
    case 3:
      std::fprintf(file, "c2608 %02x %02x %02x 3f 3f 3f 20 20 3f\n", v, v ^ 0x3f, v >> 1);
      break;
    case 4:
      std::fprintf(file, "c%zu,%02x\r\n", i % 64, v);
      break;
    case 5:
      std::fprintf(file, "c2151 3f 00 00 00 3f 00 00 00 3f 3f 3f %02x\n", v);
      break;
    case 6:
      std::fprintf(file, " \t \n");
      break;
    case 7:
      std::fprintf(file, "cspec");
      for (unsigned k = 0; k < 48; ++k) {
        std::fprintf(file, " %02x", (v + k) & 0xff);
      }
      std::fprintf(file, "\n");
      break;
    case 8:
      std::fprintf(file, "c63 0x%02x\n", v);
      break;
    default:
      std::fprintf(file, "  #c2608 00 00 ignored\n");
      break;
  }
}

// Written a line at a time, so that this process never holds a whole file in memory.
GeneratedFile write_mixed_file(std::size_t lines) {
  GeneratedFile generated{g_dir + "/mixed-" + std::to_string(lines) + ".cfg", lines, 0};
  std::FILE* file = std::fopen(generated.path.c_str(), "wb");
  for (std::size_t i = 0; i < lines; ++i) {
    write_mixed_line(file, i);
  }
  generated.bytes = static_cast<std::size_t>(std::ftell(file));
  std::fclose(file);
  return generated;
}

// One line of 10 MiB. Each 32766-character read of it begins with a keyword, so that every piece
// is accepted and the reader goes through the whole line.
GeneratedFile write_long_line_file() {
  GeneratedFile generated{g_dir + "/long-line.cfg", 1, 0};
  std::FILE* file = std::fopen(generated.path.c_str(), "wb");
  const char* keywords[] = {"c2608", "cspec", "c2151", "c12", "#"};
  std::string piece;
  for (std::size_t p = 0; p < k_long_line_pieces; ++p) {
    piece = keywords[p % 5];
    while (piece.size() + 3 <= murve::k_max_line_read) {
      piece += " 3f";
    }
    piece.resize(murve::k_max_line_read, ' ');
    std::fwrite(piece.data(), 1, piece.size(), file);
  }
  std::fputc('\n', file);
  generated.bytes = static_cast<std::size_t>(std::ftell(file));
  std::fclose(file);
  return generated;
}

// A figure in KiB from /proc/self/status ("VmRSS:", "VmHWM:"); -1 when it can't be read.
long status_kib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::atol(line.c_str() + std::strlen(field));
    }
  }
  return -1;
}

// Sets the peak RSS back to the present RSS, so that the next peak is the loop's own.
bool reset_peak_rss() {
  std::ofstream clear_refs("/proc/self/clear_refs");
  clear_refs << "5";
  clear_refs.flush();
  return static_cast<bool>(clear_refs);
}

void read_file(benchmark::State& state, const GeneratedFile& file) {
  murve::ColorImage image = murve::build_default_image();
  const bool peak_reset = reset_peak_rss();
  const long before = status_kib("VmRSS:");
  for (auto _ : state) {
    // The reader itself, without the bound a settings file is opened with.
    const murve::UniqueFile opened(std::fopen(file.path.c_str(), "rb"));
    if (!opened || !murve::read_settings(opened.get(), image).ok()) {
      state.SkipWithError("the file was rejected");
      break;
    }
    benchmark::DoNotOptimize(image.bytes.data());
    benchmark::ClobberMemory();
  }
  const long peak = status_kib("VmHWM:");
  const auto iterations = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(file.lines));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.bytes));
  state.counters["file_KiB"] = static_cast<double>(file.bytes) / 1024.0;
  state.counters["time_per_line"] =
      benchmark::Counter(iterations * static_cast<double>(file.lines),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  if (peak_reset && before >= 0 && peak >= 0) {
    state.counters["rss_growth_KiB"] = static_cast<double>(peak - before);
    state.counters["rss_over_start_KiB"] = static_cast<double>(peak - g_rss_at_start);
  }
}

void remove_generated_files() {
  for (const auto& [lines, file] : g_mixed_files) {
    std::remove(file.path.c_str());
  }
  std::remove(g_long_line_file.path.c_str());
  rmdir(g_dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  g_dir = (std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp");
  g_dir += "/murvecolor-settings-bench.XXXXXX";
  if (mkdtemp(g_dir.data()) == nullptr) {
    std::perror("settings_reader_bench: mkdtemp");
    return 1;
  }
  for (std::int64_t lines : {1000, 100000, 1000000}) {
    g_mixed_files[lines] = write_mixed_file(static_cast<std::size_t>(lines));
  }
  g_long_line_file = write_long_line_file();

  benchmark::RegisterBenchmark("settings_reader/mixed_lines",
                               [](benchmark::State& state) {
                                 read_file(state, g_mixed_files.at(state.range(0)));
                                 state.SetComplexityN(state.range(0));
                               })
      ->Arg(1000)
      ->Arg(100000)
      ->Arg(1000000)
      ->Unit(benchmark::kMillisecond)
      ->Complexity(benchmark::oN);
  benchmark::RegisterBenchmark("settings_reader/one_10MiB_line", [](benchmark::State& state) {
    read_file(state, g_long_line_file);
  })->Unit(benchmark::kMillisecond);

  g_rss_at_start = status_kib("VmRSS:");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  remove_generated_files();
  return 0;
}
