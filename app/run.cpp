#include "app/run.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "app/backup.h"
#include "app/command_line.h"
#include "app/help_text.h"
#include "app/messages.h"
#include "app/port_listing.h"
#include "app/usage_text.h"
#include "app/verification.h"
#include "common/device_backup.h"
#include "common/device_messages.h"
#include "common/message.h"
#include "common/platform.h"
#include "common/port_options.h"
#include "common/report.h"
#include "common/usb_port.h"
#include "device/device_programming.h"
#include "device/dialogue.h"
#include "device/port_enumeration.h"
#include "device/readback.h"
#include "device/serial_link.h"
#include "settings/color_image.h"
#include "settings/settings_file.h"
#include "settings/text_format.h"

namespace murve {
namespace {

constexpr const char* k_program = "murvecolor";
constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";
constexpr int k_exit_verified = 0;
constexpr int k_exit_not_verified = 1;
// A rejected command line, when the caller asked for a verdict: murvedump's status for it too.
constexpr int k_exit_bad_command_line = 2;

// How a run with the device went: whether the device holds what the run wanted it to hold.
enum class DeviceVerdict {
  none,          // no verdict was asked for
  verified,      // -verify or -check: the device holds the signature and the image
  not_verified,  // -verify or -check: it does not, or could not be read
};

// Standard output as it always was, with the reasons on standard error.
class Run {
 public:
  Run(const RunOptions& options, bool verdict_asked, bool settings_read_whole, BackupPlan* backup)
      : options_(options),
        verdict_asked_(verdict_asked),
        settings_read_whole_(settings_read_whole),
        backup_(backup) {}

  // A selector that leads to no port: said as for a port that does not open, for nothing was.
  DeviceVerdict no_port(const std::vector<std::string>& reasons) {
    for (const std::string& reason : reasons) {
      report_problem(k_program, reason);
    }
    print_output("\n");
    print_output("\n");
    return asked_verdict(false);
  }

  DeviceVerdict talk_to_device(const PortAddress& address, const ColorImage& image) {
    port_.address = address;
    const PortOpening opening = open_port(address, {options_.baud});
    if (!opening.link) {
      report_problem(k_program, explain_open_failure(opening, port_));
      print_output("\n");
      print_output("\n");
      return asked_verdict(false);
    }
    port_.flow_control = opening.link->hardware_flow_control();
    Dialogue dialogue(*opening.link);
    DeviceVerdict verdict = asked_verdict(false);
    if (identify(dialogue)) {
      // -check goes from identifying straight to the read-back: nothing is written.
      if (options_.mode == RunMode::check) {
        verdict = read_and_judge(dialogue, image, VerdictWording::as_expected);
      } else if (keep_backup(dialogue)) {
        verdict = program(dialogue, image);
      } else {
        verdict = DeviceVerdict::not_verified;
      }
    }
    opening.link->close_port();
    print_output("\n");
    return verdict;
  }

 private:
  DeviceVerdict asked_verdict(bool verified) const {
    if (!verdict_asked_) {
      return DeviceVerdict::none;
    }
    return verified ? DeviceVerdict::verified : DeviceVerdict::not_verified;
  }

  // The banner printed, or why there is none.
  bool identify(Dialogue& dialogue) {
    const Identification identification = identify_device(dialogue);
    if (identification.result == IdentifyResult::send_failed) {
      print_output("write error.\n");
    } else {
      print_output_bytes("%s\n", shown_on_output(dialogue.reply()).c_str());
    }
    if (identification.result == IdentifyResult::identified) {
      return true;
    }
    if (identification.result != IdentifyResult::send_failed) {
      print_output("MURVE(6183) not found.\n");
    }
    // A send that failed because the port has gone is said as the hang-up it is.
    const bool hung_up = identification.result == IdentifyResult::send_failed && dialogue.hung_up();
    report_problem(
        k_program,
        message(
            "{reason}; nothing was written to it",
            {{"reason", explain_identification(
                            hung_up ? Identification{IdentifyResult::hung_up, {}} : identification,
                            port_)}}));
    return false;
  }

  // With -backup, what the device holds, saved before anything is written; silent on standard
  // output, which is the run's own. Whether the writes may go on.
  bool keep_backup(Dialogue& dialogue) {
    if (backup_ == nullptr) {
      return true;
    }
    DeviceBackup backup;
    const ReadBackOutcome outcome = read_identified_backup(dialogue, backup);
    for (std::size_t block = 0; block < outcome.blocks.size(); ++block) {
      if (const std::string why =
              explain_block(outcome.blocks[block], read_block_address(block), port_);
          !why.empty()) {
        report_problem(k_program, message("{reason}; without its backup, nothing was written to "
                                          "the device",
                                          {{"reason", why}}));
        return false;
      }
    }
    const bool named = !options_.port_name.empty();
    const BackupSource source = {
        named ? options_.port_name : format_text("COM%d", options_.port_number),
        options_.port_number, options_.port_name, options_.baud, k_program};
    const FileWriteError error =
        backup_->writer->commit(format_backup_file(backup, source, std::time(nullptr)));
    if (error.failed()) {
      report_problem(k_program, message("{reason}; without its backup, nothing was written to "
                                        "the device",
                                        {{"reason", explain_file_write(error)}}));
      return false;
    }
    return true;
  }

  // The writes and the signature, then the read-back.
  DeviceVerdict program(Dialogue& dialogue, const ColorImage& image) {
    // Said by the signal handler if the run is stopped before the signature is in place.
    set_interruption_notice(encoded_for_output(interrupted_writes_notice(
        k_program, port_, port_option_text(options_.port_number, options_.port_name))));
    const WriteObserver echo = [this, &dialogue](const WriteReport& report) {
      echo_command(report, dialogue.hung_up());
    };
    write_color_image(dialogue, image, echo);
    const bool signed_off = !write_signature(dialogue, echo).failed();
    set_interruption_notice("");
    if (!signed_off) {
      return asked_verdict(false);
    }
    print_output("\n");
    return read_and_judge(dialogue, image, VerdictWording::as_written);
  }

  DeviceVerdict read_and_judge(Dialogue& dialogue, const ColorImage& image,
                               VerdictWording wording) {
    ReadbackImage readback{};
    const ReadBackOutcome outcome = read_back(dialogue, readback);
    for (std::size_t block = 0; block < outcome.blocks.size(); ++block) {
      const BlockOutcome& result = outcome.blocks[block];
      if (result.status == BlockStatus::send_failed) {
        print_output("write error.\n");
      }
      // After a hang-up, the blocks that fail from it add nothing.
      const std::string why = explain_block(result, read_block_address(block), port_);
      if (result.hung_up) {
        say_hang_up(why);
      } else if (!why.empty()) {
        report_problem(k_program, why);
      }
    }
    print_verify_listing(readback);
    if (asked_verdict(true) == DeviceVerdict::none) {
      return DeviceVerdict::none;
    }
    const Verdict verdict =
        verify_readback(image, readback, outcome, not_written_, wording, settings_read_whole_);
    for (const std::string& line : verdict.lines) {
      print_output("%s\n", line.c_str());
    }
    return asked_verdict(verdict.verified);
  }

  // Each command once it has been sent, or "write error." for the one that failed. After the
  // port has hung up, only the first failure is explained: the rest fail from the same cause.
  void echo_command(const WriteReport& report, bool hung_up) {
    switch (report.status) {
      case CommandStatus::sent:
        print_output_bytes("%.*s", static_cast<int>(report.command.size()), report.command.data());
        break;
      case CommandStatus::send_failed:
        print_output("write error.\n");
        if (hung_up) {
          // The first write went out, the signature did not: the device holds part of the settings.
          say_hang_up(message(
              "{port} hung up during the writes (unplugged?): the device on {port} now holds part "
              "of the new settings; run the same command again, or write a backup back with "
              "{program} {option} -config BACKUP-FILE",
              {{"port", printable(port_.address.path)},
               {"program", k_program},
               {"option", printable(port_option_text(options_.port_number, options_.port_name))}}));
        } else {
          report_problem(k_program, explain_write_failure(report, port_));
        }
        not_written_.push_back(report.write);
        break;
      case CommandStatus::skipped:
        not_written_.push_back(report.write);
        break;
    }
  }

  void say_hang_up(const std::string& text) {
    if (!hang_up_said_) {
      report_problem(k_program, text);
    }
    hang_up_said_ = true;
  }

  const RunOptions& options_;
  const bool verdict_asked_;
  const bool settings_read_whole_;  // a read error ended the file early: no verdict holds
  BackupPlan* backup_;              // -backup, or null
  bool hang_up_said_ = false;
  PortLabel port_;
  std::vector<WriteCommand> not_written_;
};

int exit_status_of(DeviceVerdict verdict) {
  return verdict == DeviceVerdict::not_verified ? k_exit_not_verified : k_exit_verified;
}

}  // namespace

int run_murvecolor(int argc, const char* const* argv) {
  print_output("%s", k_banner);
  const CommandLine command_line = parse_command_line(argc, argv);
  if (command_line.info == InfoRequest::help) {
    print_help_text();
    return 0;
  }
  if (command_line.info == InfoRequest::version) {
    print_version();
    return 0;
  }
  if (!command_line.options) {
    if (command_line.problem == CommandLineProblem::unknown_option ||
        command_line.problem == CommandLineProblem::double_dash) {
      print_output_bytes("invalid option [%s]\n", command_line.argument.c_str());
    }
    report_problem(k_program, message("{reason}; murvecolor --help lists the options",
                                      {{"reason", explain_command_line(command_line)}}));
    print_usage_text();
    return command_line.verdict_asked ? k_exit_bad_command_line : 0;
  }
  const RunOptions& options = *command_line.options;
  if (options.mode == RunMode::list) {
    return list_serial_ports_for_murve(k_program, options.baud);
  }
  const int failed = command_line.verdict_asked ? k_exit_not_verified : k_exit_verified;
  ColorImage image = build_default_image();
  const SettingsOutcome settings = load_settings_file(options.settings_path, image);
  switch (settings.failure) {
    case SettingsFailure::cannot_open:
      print_output_bytes("open error.[%s]\n", options.settings_path.c_str());
      report_problem(k_program, explain_settings_failure(settings, options.settings_path));
      return failed;
    case SettingsFailure::bad_line:
      print_output_bytes("??? [%s]\n", settings.first_token.c_str());
      print_output("config file error\n");
      report_problem(k_program, explain_settings_failure(settings, options.settings_path));
      return failed;
    case SettingsFailure::none:
      break;
  }
  if (const std::string why = explain_settings_read_error(settings, options); !why.empty()) {
    report_problem(k_program, why);
  }
  for (const SettingsWarning& warning : settings.warnings.kept) {
    report_problem(k_program, explain_settings_warning(warning, options.settings_path));
  }
  if (const std::string more = settings_warnings_left_out(settings.warnings, options.settings_path);
      !more.empty()) {
    report_problem(k_program, more);
  }
  if (options.dry_run) {
    // What a run would echo, from the same commands; nothing is opened.
    for (const std::string& command : programming_commands(image)) {
      print_output_bytes("%s", command.c_str());
    }
    return k_exit_verified;
  }
  // -backup, or MURVECOLOR_BACKUP for a run that writes; prepared before the port is opened.
  std::string backup_target = options.backup_path;
  if (const char* folder = std::getenv("MURVECOLOR_BACKUP");
      backup_target.empty() && options.mode == RunMode::program && folder != nullptr) {
    backup_target = folder;
  }
  BackupPlan backup;
  Run run(options, command_line.verdict_asked, settings.error_number == 0,
          backup_target.empty() ? nullptr : &backup);
  // The port, a selector's once, before the backup is named after the adapter.
  PortAddress address = port_address_of(options.port_number, options.port_name);
  std::vector<SerialPortEntry> ports;
  if (is_usb_selector(options.port_name) || !backup_target.empty()) {
    ports = list_serial_ports();
  }
  if (is_usb_selector(options.port_name)) {
    const UsbPortChoice choice = choose_usb_port(options.port_name, ports);
    if (!choice.address) {
      return exit_status_of(run.no_port(choice.reasons));
    }
    address = *choice.address;
  }
  if (!backup_target.empty()) {
    if (const std::string why = plan_backup(backup_target, file_identity(address.path, ports),
                                            std::time(nullptr), backup);
        !why.empty()) {
      report_problem(k_program, message("{reason}; without its backup, the port was not opened",
                                        {{"reason", why}}));
      return k_exit_not_verified;
    }
  }
  return exit_status_of(run.talk_to_device(address, image));
}

}  // namespace murve
