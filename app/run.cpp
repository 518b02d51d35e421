#include "app/run.h"

#include <cstdio>
#include <vector>

#include "app/command_line.h"
#include "app/diagnostics.h"
#include "app/usage_text.h"
#include "app/verification.h"
#include "device/device_programming.h"
#include "device/readback.h"
#include "device/serial_link.h"
#include "settings/color_image.h"
#include "settings/settings_file.h"

namespace murve {
namespace {

constexpr const char* k_program = "murvecolor";
constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";
constexpr int k_exit_verified = 0;
constexpr int k_exit_not_verified = 1;

// Standard output as it always was, with the reasons on standard error; gives whether the device
// was read back and found to hold what was written.
class Run {
 public:
  explicit Run(const RunOptions& options) : options_(options) {}

  bool program_device(const ColorImage& image) {
    const PortOpening opening = open_port(options_.port_number);
    if (!opening.link) {
      report_problem(k_program, explain_open_failure(opening, opening.path));
      std::printf("\n");
      std::printf("\n");
      return false;
    }
    port_ = opening.path;
    const bool verified = talk_to(*opening.link, image);
    opening.link->close_port();
    std::printf("\n");
    return verified;
  }

 private:
  bool talk_to(SerialLink& link, const ColorImage& image) {
    const Identification identification = identify_device(link);
    if (identification.result == IdentifyResult::send_failed) {
      std::printf("write error.\n");
    } else {
      std::printf("%s\n", link.response());
    }
    if (identification.result != IdentifyResult::identified) {
      if (identification.result != IdentifyResult::send_failed) {
        std::printf("MURVE(6183) not found.\n");
      }
      report_problem(k_program, explain_identification(identification, port_, port_));
      return false;
    }
    const WriteObserver echo = [this](const WriteReport& report) { echo_command(report); };
    write_color_image(link, image, echo);
    if (write_signature(link, echo).failed()) {
      return false;
    }
    std::printf("\n");
    ReadbackImage readback{};
    const ReadBackOutcome outcome = read_back(link, readback);
    for (std::size_t block = 0; block < outcome.blocks.size(); ++block) {
      const BlockOutcome& result = outcome.blocks[block];
      if (result.status == BlockStatus::send_failed) {
        std::printf("write error.\n");
      }
      if (const std::string why = explain_block(result, read_block_address(block), port_);
          !why.empty()) {
        report_problem(k_program, why);
      }
    }
    print_verify_listing(readback);
    if (!options_.verify) {
      return false;
    }
    const Verdict verdict = verify_readback(image, readback, outcome, not_written_);
    for (const std::string& line : verdict.lines) {
      std::printf("%s\n", line.c_str());
    }
    return verdict.verified;
  }

  // Each command once it has been sent, or "write error." for the one that failed.
  void echo_command(const WriteReport& report) {
    switch (report.status) {
      case CommandStatus::sent:
        std::printf("%.*s", static_cast<int>(report.command.size()), report.command.data());
        break;
      case CommandStatus::send_failed:
        std::printf("write error.\n");
        report_problem(k_program, explain_write_failure(report, port_));
        not_written_.push_back(report.write);
        break;
      case CommandStatus::skipped:
        not_written_.push_back(report.write);
        break;
    }
  }

  const RunOptions& options_;
  std::string port_;
  std::vector<WriteCommand> not_written_;
};

}  // namespace

int run_murvecolor(int argc, const char* const* argv) {
  std::printf("%s", k_banner);
  const CommandLine command_line = parse_command_line(argc, argv);
  if (!command_line.options) {
    if (command_line.problem == CommandLineProblem::unknown_option) {
      std::printf("invalid option [%s]\n", command_line.argument.c_str());
    }
    report_problem(k_program, explain_command_line(command_line));
    print_usage_text();
    return 0;
  }
  const RunOptions& options = *command_line.options;
  const int failed = options.verify ? k_exit_not_verified : 0;
  ColorImage image = build_default_image();
  const SettingsOutcome settings = load_settings_file(options.settings_path, image);
  switch (settings.failure) {
    case SettingsFailure::cannot_open:
      std::printf("open error.[%s]\n", options.settings_path.c_str());
      report_problem(k_program, explain_settings_failure(settings, options.settings_path));
      return failed;
    case SettingsFailure::bad_line:
      std::printf("??? [%s]\n", settings.first_token.c_str());
      std::printf("config file error\n");
      report_problem(k_program, explain_settings_failure(settings, options.settings_path));
      return failed;
    case SettingsFailure::none:
      break;
  }
  if (const std::string why = explain_settings_read_error(settings, options.settings_path);
      !why.empty()) {
    report_problem(k_program, why);
  }
  Run run(options);
  return run.program_device(image) ? k_exit_verified : failed;
}

}  // namespace murve
