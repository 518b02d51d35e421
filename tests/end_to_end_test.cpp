// murvecolor run as a program, against murvesim on a real pseudo-terminal.

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace murve_test {
namespace {

constexpr const char* k_banner = "murve pro color setting utility v 1.1 2023/1/14\n";


TEST(EndToEnd, CompleteRunWithDefaultImage) {
  TempDir dir;
  write_file(dir.file("empty.cfg"), "");
  SimulatedDevice device(dir);
  ASSERT_TRUE(device.started());
  const ProcessResult run =
      run_murvecolor({"-com", "5", "-config", dir.file("empty.cfg")}, {device.com5_variable()});
  EXPECT_EQ(run.exit_status, 0);
  std::string expected_writes;
  for (const std::string& command : k_default_write_commands) {
    expected_writes += command;
  }
  EXPECT_NE(run.output.find(expected_writes + "eepromex 80 aa 55\n\nVerify..\n"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.rfind(k_banner, 0), 0u);
}

}  // namespace
}  // namespace murve_test
