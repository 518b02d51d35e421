#include "common/process_setup.h"

#include "common/message.h"
#include "common/report.h"
#include "device/signal_guard.h"
#include "settings/text_format.h"

namespace murve {
namespace {

// Long enough to read a usage text; a window left alone closes by itself.
constexpr std::chrono::minutes k_console_hold{5};

}  // namespace

void prepare_process(const char* program) {
  const std::string streams_problem = prepare_standard_streams();
  choose_message_language();
  if (!streams_problem.empty()) {
    report_problem(program, streams_problem);
  }
  for (const GuardGap& gap : install_signal_guard()) {
    report_problem(
        program,
        format_text("cannot handle %s: %s; a run it stops leaves the port as the run set it",
                    gap.event.c_str(), gap.error.text.c_str()));
  }
}

bool holds_console_open(const ConsoleState& console) {
  return console.processes == 1 && console.input && console.output && console.error;
}

void finish_process(const char* program) {
  if (!holds_console_open(console_state())) {
    return;
  }
  report_problem(program,
                 message("press Enter to close this window (it closes by itself after {minutes} "
                         "minutes)",
                         {{"minutes", std::to_string(k_console_hold.count())}}));
  wait_for_enter(k_console_hold);
}

}  // namespace murve
