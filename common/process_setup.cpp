#include "common/process_setup.h"

#include "common/report.h"
#include "device/signal_guard.h"
#include "settings/text_format.h"

namespace murve {

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

}  // namespace murve
