#include "sim/murve_console.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "device/unique_fd.h"
#include "test_support.h"

namespace murve_test {
namespace {

std::string feed(murvesim::MurveConsole& console, const std::string& bytes) {
  std::string reply;
  for (char byte : bytes) {
    reply += console.receive(byte);
  }
  return reply;
}

// The reply to a read of 32 bytes that begin with `first` ("20 21", say), the rest erased.
std::string read_reply(std::string first) {
  while (first.size() < 32 * 3 - 1) {
    first += first.empty() ? "ff" : " ff";
  }
  first[16 * 3 - 1] = '\n';
  return "EEPROM DATA\n" + first + "\n> ";
}

TEST(MurveConsole, RepliesToEachKindOfLine) {
  struct Case {
    const char* name;
    std::string sent;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"carriage return", "\r", "\n> "},
      {"CR LF is one line", "\r\n", "\n> "},
      {"help", "h\r", murvesim::help_banner(true) + "> "},
      {"write", "eepromex 80 aa 55\n", "ok\n> "},
      {"unknown", "hello\n", "unknown command [hello]\n> "},
      {"write past the end", "eepromex 1ff 01 02\n", "bad address\n> "},
      {"bad byte", "eepromex 80 aa 5g\n", "bad byte [5g]\n> "},
      {"read past the end", "eepromex read 1f0\n", "bad address\n> "},
      {"write without bytes", "eepromex 80\n",
       "usage: eepromex ADDR BYTE... | eepromex read ADDR\n> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console;
    EXPECT_EQ(feed(console, c.sent), c.reply);
  }
}

TEST(MurveConsole, StoresWritesAndReadsThemBack) {
  murvesim::MurveConsole console;
  EXPECT_EQ(feed(console, "eepromex 0a2 01 2 ab\n"), "ok\n> ");
  EXPECT_EQ(console.eeprom()[0xa1], 0xff);
  EXPECT_EQ(console.eeprom()[0xa2], 0x01);
  EXPECT_EQ(console.eeprom()[0xa3], 0x02);
  EXPECT_EQ(console.eeprom()[0xa4], 0xab);
  EXPECT_EQ(console.eeprom()[0xa5], 0xff);
  std::string expected = "EEPROM DATA\nff ff 01 02 ab";
  for (int i = 5; i < 32; ++i) {
    expected += i == 16 ? "\nff" : " ff";
  }
  EXPECT_EQ(feed(console, "eepromex read a0\n"), expected + "\n> ");
  // A command with a bad byte stores none of its bytes.
  feed(console, "eepromex 0a2 77 zz\n");
  EXPECT_EQ(console.eeprom()[0xa2], 0x01);
  EXPECT_EQ(console.writes_stored(), 1u);
}

TEST(MurveConsole, QuirksChangeTheReplies) {
  murvesim::ConsoleQuirks quirks;
  quirks.crlf = true;
  quirks.upper_hex = true;
  quirks.echo = true;
  quirks.nul_in_replies = true;
  murvesim::MurveConsole console(quirks);
  console.eeprom()[0x80] = 0xab;
  const std::string reply = feed(console, "eepromex read 80\n");
  EXPECT_EQ(reply.substr(0, 18), std::string("eepromex read 80\n\0", 18));
  EXPECT_EQ(reply.substr(18, 16), "EEPROM DATA\r\nAB ");

  murvesim::ConsoleQuirks plain_banner;
  plain_banner.banner_names_murve = false;
  plain_banner.flood_bytes = 5000;
  murvesim::MurveConsole flooding(plain_banner);
  const std::string banner = feed(flooding, "h\r");
  EXPECT_EQ(banner.find("MURVE"), std::string::npos);
  EXPECT_EQ(banner.size(), murvesim::help_banner(false).size() + 5000 + 2);
}

TEST(MurveConsole, FaultQuirksShapeTheReplies) {
  murvesim::ConsoleQuirks sized;
  sized.reply_size = 300;
  murvesim::ConsoleQuirks nul;
  nul.nul_in_replies = true;
  nul.nul_after = 5;
  murvesim::ConsoleQuirks garbage;
  garbage.garbage = true;
  murvesim::ConsoleQuirks wake;
  wake.wake_size = 40;
  murvesim::ConsoleQuirks corrupt;
  corrupt.corrupt.set(0x80).set(0x81).set(0x82);
  std::string noise;
  for (int value = 1; value < 256; ++value) {
    noise += static_cast<char>(value);
  }
  const std::string banner = murvesim::help_banner(true) + "> ";
  struct Case {
    const char* name;
    murvesim::ConsoleQuirks quirks;
    std::string sent;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"help padded, filler first", sized, "h\r", murvesim::filler(300 - banner.size()) + banner},
      {"writes are not padded", sized, "eepromex 80 aa\n", "ok\n> "},
      {"NUL after five bytes", nul, "hello\n", std::string("unkno\0wn command [hello]\n> ", 27)},
      {"NUL after a short reply", nul, "\r", std::string("\n> \0", 4)},
      {"line noise around the reply", garbage, "\r", noise + std::string("\n> \0", 4)},
      {"wake padded, filler first", wake, "\r", murvesim::filler(37) + "\n> "},
      {"help not padded to the wake size", wake, "h\r", banner},
      // Bit 0 flipped either way in what is written; what was not written reads as it is.
      {"writes stored corrupted", corrupt, "eepromex 80 20 21\neepromex read 80\n",
       "ok\n> " + read_reply("21 20 ff")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console(c.quirks);
    EXPECT_EQ(feed(console, c.sent), c.reply);
  }
  // A read reply: 12 bytes of marker, 32 pairs and the prompt at the end of its 300.
  murvesim::MurveConsole reads(sized);
  const std::string padded_read = feed(reads, "eepromex read 80\n");
  EXPECT_EQ(padded_read.size(), 300u);
  EXPECT_EQ(padded_read.substr(300 - 110, 12), "EEPROM DATA\n");
  sized.reply_size = 20;  // smaller than the reply: left as it is
  murvesim::MurveConsole small(sized);
  EXPECT_EQ(feed(small, "h\r"), banner);
}

TEST(MurveConsole, RepeatsTheLastReadReply) {
  struct Case {
    const char* name;
    std::string sent;
    std::string repeated;
  };
  const std::vector<Case> cases = {
      {"before any read, the read of 80", "eepromex 80 aa 55\n", read_reply("aa 55")},
      {"the last read answered", "eepromex a0 01\neepromex read a0\n", read_reply("01")},
      {"a read refused is none", "eepromex a0 01\neepromex read a0\neepromex read 1f0\n",
       read_reply("01")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murvesim::MurveConsole console;
    feed(console, c.sent);
    EXPECT_EQ(console.repeated_read_reply(), c.repeated);
  }
}

// murvesim's port, opened as murvecolor opens it; murvesim keeps the line raw. Or its socket.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
  explicit Port(int fd) : fd_(fd) {}
  ~Port() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // Sends `bytes`, then reads until `size` bytes came back, or for 5 s at most.
  std::string exchange(const std::string& bytes, std::size_t size) {
    const auto sent = std::chrono::steady_clock::now();
    if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return "(not sent)";
    }
    std::string got;
    reads_ = 0;
    const auto deadline = sent + std::chrono::seconds(5);
    char buffer[4096];
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) == 1) {
        const ssize_t count = read(fd_, buffer, std::min(sizeof buffer, size - got.size()));
        got.append(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
        ++reads_;
      }
    }
    took_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  sent);
    return got;
  }

  // How many reads the last exchange took, and how long.
  std::size_t reads() const { return reads_; }
  std::chrono::milliseconds took() const { return took_; }

 private:
  int fd_;
  std::size_t reads_ = 0;
  std::chrono::milliseconds took_{0};
};

// The options that live in murvesim's serving loop or only reach the console through it.
TEST(Murvesim, OptionsShapeWhatTheLineCarries) {
  struct Step {
    std::string sent;
    std::string reply;
    std::size_t min_reads = 1;  // the reply comes in this many reads or more...
    std::size_t max_reads = std::numeric_limits<std::size_t>::max();  // ...and no more
    int not_before_ms = 0;  // and no sooner than this after the command is sent
  };
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<Step> steps;
  };
  const std::string banner = murvesim::help_banner(true) + "> ";
  std::string misheard_banner = banner;
  for (char& c : misheard_banner) {
    c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
  }
  const std::vector<Case> cases = {
      {"corrupt at each address given",
       {"--corrupt", "0x81", "--corrupt", "A2"},
       {{"eepromex 80 20 20\r", "ok\n> "},
        {"eepromex a1 20 20\r", "ok\n> "},
        {"eepromex read 80\r", read_reply("20 21")},
        {"eepromex read a0\r", read_reply("ff 20 21")}}},
      {"a wake reply of 300 bytes",
       {"--wake-size", "300"},
       {{"\r", murvesim::filler(297) + "\n> "}}},
      // The second reply comes a second later; what is sent meanwhile is answered meanwhile.
      {"a read answered twice",
       {"--twice-after", "1", "--twice-gap", "1000"},
       {{"\r", "\n> "},
        {"eepromex read a0\r", read_reply("")},
        {"h\r", banner},
        {"", read_reply("")},
        {"\r", "\n> "}}},
      // 17 bytes in and 110 out take 2.1 s at 600 baud; the adapter hands them on every 16 ms, so
      // only a reader held up for seconds takes them in one read.
      {"a paced line",
       {"--baud", "600"},
       {{.sent = "eepromex read 80\r",
         .reply = read_reply(""),
         .min_reads = 2,
         .not_before_ms = 2100}}},
      {"no line",
       {"--instant"},
       {{.sent = "eepromex read 80\r", .reply = read_reply(""), .max_reads = 1}}},
      // The port comes up at 9600 baud and is left so.
      {"heard at its rate", {"--expect-baud", "9600"}, {{"h\r", banner}}},
      {"heard at another rate", {"--expect-baud", "115200"}, {{"h\r", misheard_banner}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    SimulatedDevice device(dir, c.options);
    ASSERT_TRUE(device.started());
    Port port(device.link_path());
    for (const Step& step : c.steps) {
      EXPECT_EQ(port.exchange(step.sent, step.reply.size()), step.reply) << step.sent;
      EXPECT_GE(port.reads(), step.min_reads) << step.sent;
      EXPECT_LE(port.reads(), step.max_reads) << step.sent;
      EXPECT_GE(port.took().count(), step.not_before_ms) << step.sent;
    }
  }
  // Addresses that are not hex, or beyond the EEPROM, are refused.
  TempDir dir;
  for (const char* address : {"200", "0x", "1g", "-1", "0x1ff0"}) {
    SCOPED_TRACE(address);
    const ProcessResult run =
        run_process({MURVESIM_EXE, "--link", dir.file("port"), "--corrupt", address}, {},
                    std::chrono::seconds(5));
    EXPECT_EQ(run.exit_status, 2);
  }
}

// A link left behind would point at a pseudo-terminal that a later terminal may get.
TEST(Murvesim, RemovesItsLinkWhenAnySignalStopsIt) {
  for (const int signal_number : {SIGQUIT, SIGTRAP, SIGRTMIN}) {
    SCOPED_TRACE(signal_number);
    TempDir dir;
    const std::string link = dir.file("port");
    struct stat found {};
    const ProcessResult run =
        run_process({MURVESIM_EXE, "--link", link}, {}, std::chrono::seconds(5), dir.path(),
                    {signal_number, {}, [&] { return lstat(link.c_str(), &found) == 0; }});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_NE(lstat(link.c_str(), &found), 0);
  }
}

// A virtual machine's serial port, served by QEMU as a listening socket: murvesim connects, serves
// it, and ends when the other end closes.
TEST(Murvesim, ServesASocketUntilItsOtherEndCloses) {
  TempDir dir;
  const std::string path = dir.file("serial");
  ProcessResult run;
  std::thread sim([&] {
    run = run_process({MURVESIM_EXE, "--connect", path}, {}, std::chrono::seconds(10));
  });
  // Listening only now: murvesim tries again meanwhile.
  const murve::UniqueFd listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  pollfd ready{listening.get(), POLLIN, 0};
  const bool listens =
      bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      listen(listening.get(), 1) == 0 && poll(&ready, 1, 5000) == 1;
  {
    Port port(listens ? accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC) : -1);
    const std::string banner = murvesim::help_banner(true) + "> ";
    EXPECT_EQ(port.exchange("h\r", banner.size()), banner);
  }
  sim.join();
  EXPECT_EQ(run.output, "connected to " + path + "\n");
  EXPECT_EQ(run.exit_status, 0);
}

}  // namespace
}  // namespace murve_test
