// Whether a program keeps its console window open at its end: only when it is alone on a console
// that all three standard streams are, as a double-click in Explorer leaves it.

#include "common/process_setup.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessSetup, OnlyALoneConsoleIsHeldOpen) {
  struct Case {
    const char* name;
    murve::ConsoleState console;
    bool held;
  };
  const Case cases[] = {
      {"a double-click in Explorer", {1, true, true, true}, true},
      {"a Command Prompt, PowerShell or a batch file", {2, true, true, true}, false},
      {"no console (POSIX, a service)", {0, false, false, false}, false},
      {"standard output to a pipe", {1, true, false, true}, false},
      {"standard error to a file", {1, true, true, false}, false},
      {"standard input from a file", {1, false, true, true}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(murve::holds_console_open(c.console), c.held) << c.name;
  }
}

}  // namespace
