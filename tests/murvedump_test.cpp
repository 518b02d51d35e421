// murvedump: the backup file it writes, and the program end to end against murvesim.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/device_backup.h"
#include "settings/settings_file.h"
#include "test_support.h"

namespace murve_test {
namespace {

std::string random_bytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(generator() & 0xff);
  }
  return bytes;
}

// The image that reading a backup of `device` gives: the device's bytes with 00 in every fill
// byte of tables 2608 and 2151.
murve::ColorImage as_written_back(const murve::ColorImage& device) {
  murve::ColorImage image = device;
  for (unsigned address = murve::k_table2608.address; address < murve::k_spec_table.address;
       address += 4) {
    image.at(address + 3) = 0x00;
  }
  return image;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The header's lines before the restore command's options.
const std::string k_restore =
    "# To write them back, run this command with this file's name in place of THIS-FILE:\n"
    "#   murvecolor ";

TEST(BackupFile, ReadsBackToTheSameBytesAndNotesWhatItCannotRestate) {
  struct Case {
    const char* name;
    unsigned seed;
    bool zero_fill_bytes;
    std::array<std::uint8_t, 2> signature;
    murve::BackupSource source = {"COM7", 7, "", 0};
    std::string header = "COM7 on 1970-01-01 00:00:00 UTC.\n" + k_restore + "-com 7";
  };
  const std::vector<Case> cases = {
      {"random, programmed", 1, true, {0xaa, 0x55}},
      {"random fill bytes", 2, false, {0xaa, 0x55}},
      {"never programmed", 3, true, {0xff, 0xff}},
      {"signature half right", 4, true, {0xaa, 0x56}},
      // A line feed would end the comment line, the end-of-file byte the whole file.
      {"a spaced port name with control characters, and -baud",
       5,
       true,
       {0xaa, 0x55},
       {"my usb\nserial\x1a", 0, "my usb\nserial\x1a", 115200},
       "my usb\\nserial\\x1a on 1970-01-01 00:00:00 UTC.\n" + k_restore +
           "-port $'my usb\\nserial\\x1a' -baud 115200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    murve::DeviceBackup backup;
    const std::string bytes = random_bytes(murve::k_color_image_size, c.seed);
    std::copy(bytes.begin(), bytes.end(), backup.image.bytes.begin());
    if (c.zero_fill_bytes) {
      backup.image = as_written_back(backup.image);
    }
    backup.signature = c.signature;
    const std::string text = murve::format_backup_file(backup, c.source, 0);
    EXPECT_EQ(text.rfind("# MURVE Pro colour settings, read by murvedump from " + c.header +
                             " -config THIS-FILE\n",
                         0),
              0u);
    const bool programmed = c.signature[0] == 0xaa && c.signature[1] == 0x55;
    EXPECT_EQ(count_of(text, "not aa 55"), programmed ? 0u : 1u);
    std::size_t nonzero_fills = 0;
    for (unsigned address = murve::k_table2608.address; address < murve::k_spec_table.address;
         address += 4) {
      nonzero_fills += backup.image.at(address + 3) != 0 ? 1 : 0;
    }
    EXPECT_EQ(count_of(text, "at its fill byte"), nonzero_fills);

    TempDir dir;
    write_file(dir.file("backup.cfg"), text);
    murve::ColorImage read = murve::build_default_image();
    EXPECT_TRUE(murve::load_settings_file(dir.file("backup.cfg"), read).ok());
    EXPECT_EQ(read.bytes, as_written_back(backup.image).bytes);
  }
}

// Each row: a word, then as the POSIX shell and as cmd.exe with the C runtime take it.
TEST(BackupFile, QuotesThePortForEachShell) {
  for (const auto& [word, posix, cmd] : std::vector<std::array<std::string, 3>>{
           {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
           {"a\tb\\'", "$'a\\tb\\\\\\''", "a\\tb\\'"},
           {"C:\\my ports\\", "'C:\\my ports\\'", "\"C:\\my ports\\\\\""}}) {
    EXPECT_EQ(murve::quoted_for_shell(word, murve::CommandShell::posix), posix) << word;
    EXPECT_EQ(murve::quoted_for_shell(word, murve::CommandShell::cmd), cmd) << word;
  }
}

struct DumpRun {
  static inline const std::vector<std::string> k_dump = {MURVEDUMP_EXE};
  TempDir dir;
  std::unique_ptr<SimulatedDevice> device;
  ProcessResult run;

  DumpRun(const std::string& eeprom, const std::vector<std::string>& sim_options,
          const std::vector<std::string>& dump_arguments, std::vector<std::string> argv = k_dump) {
    write_file(dir.file("eeprom.bin"), eeprom);
    device = std::make_unique<SimulatedDevice>(dir, sim_options);
    if (!device->started()) {
      return;
    }
    argv.insert(argv.end(), {"-com", "5"});
    for (const std::string& argument : dump_arguments) {
      argv.push_back(argument == "BACKUP" ? dir.file("backup.cfg") : argument);
    }
    run = run_process(argv, {device->com5_variable()}, std::chrono::seconds(20));
  }
};

TEST(Murvedump, BackupWrittenBackGivesTheDeviceItsBytesAgain) {
  const std::string original = random_bytes(512, 42);
  DumpRun dump(original, {}, {"-o", "BACKUP"});
  ASSERT_TRUE(dump.device->started());
  EXPECT_EQ(dump.run.exit_status, 0);
  EXPECT_EQ(dump.run.output, "");
  // Reading changes nothing on the device.
  EXPECT_EQ(dump.device->eeprom(), original);
  const std::string backup = read_file(dump.dir.file("backup.cfg"));
  // The backup is an ordinary new file of the user's, and no temporary file is left beside it.
  struct stat status {};
  ASSERT_EQ(stat(dump.dir.file("backup.cfg").c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
  for (const auto& entry : std::filesystem::directory_iterator(dump.dir.path())) {
    EXPECT_NE(entry.path().filename().string().rfind(".backup.cfg", 0), 0u) << entry.path();
  }

  TempDir fresh;
  write_file(fresh.file("backup.cfg"), backup);
  SimulatedDevice restored(fresh);
  ASSERT_TRUE(restored.started());
  const ProcessResult write_back = run_murvecolor(
      {"-com", "5", "-config", fresh.file("backup.cfg")}, {restored.com5_variable()});
  EXPECT_NE(write_back.output.find("Verify..\n"), std::string::npos) << write_back.output;
  const std::string eeprom = restored.eeprom();
  for (std::size_t address = 0x82; address < 0x152; ++address) {
    const bool fill_byte = address >= 0xc2 && address < 0x122 && (address - 0xc2) % 4 == 3;
    EXPECT_EQ(eeprom[address], fill_byte ? '\0' : original[address]) << std::hex << address;
  }

  // A name that can't take the backup fails whole, with the step and the system's reason,
  // before the port is opened, and the file there is left as it was; a symbolic link is written
  // through, and a replaced file keeps its mode and, for root, its owner. {dir} is a fresh folder
  // with backup.cfg (an older backup, user 65534's), link.cfg (a link to it) and sticky/, a sticky
  // folder anyone may write to, with link.cfg (user 65534's link to it), planted.cfg (0666, user
  // 65534's) and root.cfg (root's).
  struct Output {
    std::string name;
    std::string error;
    mode_t mode = 0600;      // backup.cfg's
    bool as_nobody = false;  // run as user 65534
  };
  const bool root = geteuid() == 0;
  for (Output output : std::vector<Output>{
           {"/nonexistent/backup.cfg",
            "cannot create a temporary file in /nonexistent: No such file or directory"},
           {"/dev/null", "cannot write /dev/null: it is not a regular file (a device or a FIFO?)"},
           {"/tmp", "cannot write /tmp: it is a folder"},
           {"{dir}/link.cfg", ""},
           // The longest name a folder takes: the temporary file beside it must fit too.
           {"{dir}/" + std::string(255, 'b'), ""},
           {"{dir}/" + std::string(256, 'b'),
            "cannot write {dir}/" + std::string(256, 'b') +
                ": its name is longer than the 255 bytes a name in its folder may have"},
           {"{dir}/backup.cfg",
            "cannot replace {dir}/backup.cfg: it is read-only (to replace it, make it writable or "
            "remove it first)",
            0444},
           {"{dir}/sticky/link.cfg",
            "cannot follow the symbolic link {dir}/sticky/link.cfg: it is in a sticky folder that "
            "anyone may write to, and belongs to neither you nor the folder's owner"},
           {"{dir}/sticky/root.cfg",
            "cannot replace {dir}/sticky/root.cfg: it belongs to another user, in a sticky folder "
            "where only they or the folder's owner may replace it",
            0600, true},
           {"{dir}/sticky/planted.cfg", ""}}) {
    SCOPED_TRACE(output.name);
    if (!root && output.name.find("/sticky/") != std::string::npos) {
      continue;  // other users' files, which only root can make
    }
    TempDir dir;
    for (std::string* text : {&output.name, &output.error}) {
      for (std::size_t at; (at = text->find("{dir}")) != std::string::npos;) {
        text->replace(at, 5, dir.path());
      }
    }
    write_file(dir.file("backup.cfg"), "# an older backup\n");
    std::filesystem::create_symlink("backup.cfg", dir.file("link.cfg"));
    std::filesystem::create_directory(dir.file("sticky"));
    std::filesystem::create_symlink("../backup.cfg", dir.file("sticky/link.cfg"));
    write_file(dir.file("sticky/root.cfg"), "# root's\n");
    write_file(dir.file("sticky/planted.cfg"), "# user 65534's\n");
    // The build folder may be root's alone.
    write_file(dir.file("murvedump"), read_file(MURVEDUMP_EXE));
    ASSERT_EQ(chmod(dir.file("backup.cfg").c_str(), output.mode) |
                  chmod(dir.file("sticky").c_str(), 01777) | chmod(dir.path().c_str(), 0755) |
                  chmod(dir.file("sticky/root.cfg").c_str(), 0666) |
                  chmod(dir.file("sticky/planted.cfg").c_str(), 0666) |
                  chmod(dir.file("murvedump").c_str(), 0755) |
                  (root ? lchown(dir.file("backup.cfg").c_str(), 65534, 65534) |
                              lchown(dir.file("sticky/link.cfg").c_str(), 65534, 65534) |
                              lchown(dir.file("sticky/planted.cfg").c_str(), 65534, 65534)
                        : 0),
              0);
    const std::vector<std::string> as_nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                                "--clear-groups", dir.file("murvedump")};
    DumpRun dump(original, {}, {"-o", output.name}, output.as_nobody ? as_nobody : DumpRun::k_dump);
    EXPECT_EQ(dump.run.exit_status, output.error.empty() ? 0 : 1);
    const bool through_link = output.name.ends_with("link.cfg");
    if (!output.error.empty()) {
      EXPECT_EQ(dump.run.error_output, "murvedump: " + output.error + "; nothing written\n");
      EXPECT_EQ(dump.device->received(), "");
    } else {
      const std::string written = through_link ? dir.file("backup.cfg") : output.name;
      EXPECT_EQ(read_file(written).substr(backup.find('\n')), backup.substr(backup.find('\n')));
      // A new file, and one another user planted, is a new file of the user's.
      ASSERT_EQ(stat(written.c_str(), &status), 0);
      if (!through_link) {
        EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
        EXPECT_EQ(status.st_uid, geteuid());
      }
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.cfg")));
    EXPECT_EQ(read_file(dir.file("backup.cfg")) == "# an older backup\n",
              !(through_link && output.error.empty()));
    ASSERT_EQ(stat(dir.file("backup.cfg").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, output.mode);
    EXPECT_EQ(status.st_uid, root ? 65534u : geteuid());
  }

  // The same backup on standard output, but for the time in its first line.
  DumpRun to_stdout(original, {}, {});
  EXPECT_EQ(to_stdout.run.exit_status, 0);
  EXPECT_EQ(to_stdout.run.output.substr(to_stdout.run.output.find('\n')),
            backup.substr(backup.find('\n')));
}

// Read through a name with a line feed at a rate the device needs: the command in the backup's
// header, pasted into a shell, writes the backup back through the same name at the same rate.
TEST(Murvedump, RestoreCommandInTheHeaderWorksWhenPasted) {
  TempDir dir;
  SimulatedDevice device(dir, {"--expect-baud", "115200"});
  ASSERT_TRUE(device.started());
  std::filesystem::create_symlink(device.link_path(), dir.file("usb\nserial"));
  const ProcessResult dump = run_process({MURVEDUMP_EXE, "-port", dir.file("usb\nserial"), "-baud",
                                          "115200", "-o", dir.file("backup.cfg")});
  ASSERT_EQ(dump.exit_status, 0) << dump.error_output;
  const std::string backup = read_file(dir.file("backup.cfg"));
  std::string command = backup.substr(backup.find("murvecolor "));
  command.resize(command.find('\n'));
  command.replace(command.find("THIS-FILE"), 9, "backup.cfg");
  const ProcessResult restore = run_process(
      {"bash", "-c", "murvecolor() { \"$0\" \"$@\" -verify; }; " + command, MURVECOLOR_EXE}, {},
      std::chrono::seconds(20), dir.path());
  EXPECT_EQ(restore.exit_status, 0) << command << "\n" << restore.error_output;
}

TEST(Murvedump, WritesNothingUnlessEveryBlockWasRead) {
  struct Case {
    const char* name;
    std::vector<std::string> sim_options;
    std::string why;  // in murvedump's one line on standard error; {link} is the port's path
  };
  const std::vector<Case> cases = {
      {"silent device", {"--silent"}, "no answer from the device on {link} within 1 s"},
      {"not a MURVE", {"--no-murve"}, "its answer to h does not name MURVE"},
      {"upper-case read replies", {"--upper-hex"}, "block 0x080 not read: its answer stops at '"},
      {"hang-up during the read-back", {"--hangup-after", "5"}, ": {link} hung up (unplugged?)"},
      // A device that replies to a read twice, 15 ms later or at once: its replies and the commands
      // are out of step, and a block could be taken for the next one.
      {"a read answered twice",
       {"--twice-after", "3", "--twice-gap", "15"},
       "block 0x0a0 not read: another answer came with or after it"},
      {"the last read answered twice",
       {"--twice-after", "8", "--twice-gap", "0"},
       "block 0x140 not read: another answer came with or after it"},
  };
  for (const Case& c : cases) {
    for (const bool to_file : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (to_file ? " to a file" : " to standard output"));
      TempDir dir;
      write_file(dir.file("backup.cfg"), "# an older backup\nc0 01\n");
      DumpRun dump(random_bytes(512, 7), c.sim_options,
                   to_file ? std::vector<std::string>{"-o", dir.file("backup.cfg")}
                           : std::vector<std::string>{});
      ASSERT_TRUE(dump.device->started());
      EXPECT_FALSE(dump.run.timed_out);
      EXPECT_EQ(dump.run.exit_status, 1);
      EXPECT_EQ(dump.run.output, "");
      EXPECT_NE(dump.run.error_output.find("murvedump: "), std::string::npos);
      std::string why = c.why;
      if (const std::size_t link = why.find("{link}"); link != std::string::npos) {
        why.replace(link, 6, dump.device->link_path());
      }
      EXPECT_NE(dump.run.error_output.find(why), std::string::npos) << dump.run.error_output;
      EXPECT_NE(dump.run.error_output.find("; nothing written\n"), std::string::npos);
      EXPECT_EQ(read_file(dir.file("backup.cfg")), "# an older backup\nc0 01\n");
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                              std::filesystem::directory_iterator()),
                1);
    }
  }
}

// murvecolor -backup keeps what the device held before its writes, as murvedump would, or, when
// it can't, writes nothing. {dir} has keep/ (empty), notes.cfg (no backup) and old.cfg (one); each
// run writes second.cfg to a programmed device, and the backup written back restores it.
TEST(Murvedump, MurvecolorBackupKeepsWhatTheDeviceHeldOrWritesNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> words;  // arguments after -config second.cfg, then VAR=value ones
    std::string error;               // how murvecolor's last line ends; "" for none and exit 0
    std::string backup = "keep/";    // where the backup is: the one file in keep/, or a path
    std::vector<std::string> sim_options = {};
    bool as_nobody = false;  // run as user 65534
  };
  const std::string no_writes = "; without its backup, nothing was written to the device";
  const std::string not_opened = "; without its backup, the port was not opened";
  const std::vector<Case> cases = {
      {"into a folder", {"-backup", "{dir}/keep"}, ""},
      {"into the folder MURVECOLOR_BACKUP names", {"MURVECOLOR_BACKUP={dir}/keep"}, ""},
      {"-backup over MURVECOLOR_BACKUP", {"-backup", "{dir}/keep", "MURVECOLOR_BACKUP=/x"}, ""},
      {"over an older backup", {"-backup", "{dir}/old.cfg"}, "", "{dir}/old.cfg"},
      {"a folder not writable",
       {"-backup", "{dir}/keep"},
       "cannot create a temporary file in {dir}/keep: Permission denied" + not_opened,
       "",
       {},
       true},
      {"a file that is no backup",
       {"-backup", "{dir}/notes.cfg"},
       "give another name, or a folder" + not_opened,
       ""},
      {"blocks that can't be read",
       {"-backup", "{dir}/keep"},
       "after 0 of 32 pairs" + no_writes,
       "",
       {"--upper-hex"}},
  };
  // Programmed before: the signature and 00 in every fill byte, so that the backup restates it.
  std::string original = random_bytes(512, 30);
  original.replace(0x80, 2, "\xaa\x55");
  for (unsigned address = 0xc5; address < 0x122; address += 4) {
    original[address] = '\0';
  }
  std::string plain_output;  // the run without -backup
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (std::string* text : {&c.error, &c.backup}) {
      if (const std::size_t at = text->find("{dir}"); at != std::string::npos) {
        text->replace(at, 5, dir.path());
      }
    }
    std::vector<std::string> argv = {MURVECOLOR_EXE, "-com", "5", "-config",
                                     dir.file("second.cfg")};
    std::vector<std::string> environment;
    for (std::string word : c.words) {
      if (const std::size_t at = word.find("{dir}"); at != std::string::npos) {
        word.replace(at, 5, dir.path());
      }
      (word.find('=') == std::string::npos ? argv : environment).push_back(word);
    }
    write_file(dir.file("eeprom.bin"), original);
    write_file(dir.file("second.cfg"), "c0 01\n");
    write_file(dir.file("notes.cfg"), "# my notes\n");
    write_file(dir.file("old.cfg"), "# MURVE Pro colour settings, read by murvedump from COM5\n");
    std::filesystem::create_directory(dir.file("keep"));
    SimulatedDevice device(dir, c.sim_options);
    ASSERT_TRUE(device.started());
    environment.push_back(device.com5_variable());
    if (c.as_nobody) {
      if (geteuid() != 0) {
        continue;  // only root can run it as another user
      }
      // The build folder may be root's alone.
      write_file(dir.file("murvecolor"), read_file(MURVECOLOR_EXE));
      ASSERT_EQ(chmod(dir.path().c_str(), 0755) | chmod(dir.file("murvecolor").c_str(), 0755), 0);
      argv[0] = dir.file("murvecolor");
      argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    const ProcessResult run = run_process(argv, environment);
    const auto in_keep = [&] {
      const auto kept = std::filesystem::directory_iterator(dir.file("keep"));
      return std::vector<std::filesystem::directory_entry>(kept, {});
    };
    if (!c.error.empty()) {
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_TRUE(run.error_output.ends_with(c.error + "\n")) << run.error_output;
      EXPECT_TRUE(in_keep().empty());
      EXPECT_EQ(read_file(dir.file("notes.cfg")), "# my notes\n");
      // The device is sent nothing, or only the identification and the backup's reads.
      std::string received = device.received();
      for (std::size_t at; (at = received.find("eepromex read ")) != std::string::npos;) {
        received.erase(at, received.find('\n', at) + 1 - at);
      }
      EXPECT_EQ(received, c.sim_options.empty() ? "" : "\rh\r");
      EXPECT_EQ(device.eeprom(), original);
      continue;
    }
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.error_output, "");
    if (plain_output.empty()) {  // the same run again, without -backup, on the first device
      plain_output = run_process({argv.begin(), argv.begin() + 5}, environment).output;
    }
    EXPECT_EQ(run.output, plain_output);
    ASSERT_EQ(in_keep().size(), c.backup == "keep/" ? 1u : 0u);
    const std::string path = c.backup == "keep/" ? in_keep()[0].path().string() : c.backup;
    const std::string backup = read_file(path);
    EXPECT_TRUE(
        backup.starts_with("# MURVE Pro colour settings, read by murvecolor from COM5 on "));
    EXPECT_NE(device.eeprom(), original);
    // Written back, the backup restores the device byte for byte; the restore's own backup goes
    // beside it, and does not replace it, though both may be of the same second.
    const ProcessResult restore = run_murvecolor(
        {"-com", "5", "-config", path, "-verify", "-backup", dir.file("keep")}, environment);
    EXPECT_EQ(restore.exit_status, 0) << restore.error_output;
    EXPECT_EQ(device.eeprom(), original);
    EXPECT_EQ(in_keep().size(), c.backup == "keep/" ? 2u : 1u);
    EXPECT_EQ(read_file(path), backup);
  }
}

TEST(Murvedump, BadCommandLineGivesUsageAndStatusTwo) {
  // Each says why, on the line before the usage text.
  const std::vector<std::pair<std::vector<std::string>, std::string>> command_lines = {
      {{}, "-com N or -port PORT names the port to read"},
      {{"-com"}, "-com needs a value"},
      {{"-com", "0"}, "-com needs a port number from 1 to 16, not 0"},
      {{"-com", "17"}, "-com needs a port number from 1 to 16, not 17"},
      {{"-com", "5", "-o"}, "-o needs a value"},
      {{"-com", "5", "-o", ""}, "-o needs a file name"},
      {{"-com", "5", "-x"}, "unknown option -x"},
      {{"-COM", "5"}, "unknown option -COM"},
      {{"-com", "5", "-baud", "12345"}, "-baud takes one of 50, {any}, not 12345"},
      {{"-port", "usb:"}, "-port usb:: a USB selector is usb: and then terms{any}"},
      {{"-port", "usb:serial=A\x01"}, "-port usb:serial=A\\x01: the serial number in{any}"},
  };
  for (const auto& [arguments, reason] : command_lines) {
    std::vector<std::string> argv = {MURVEDUMP_EXE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProcessResult run = run_process(argv);
    EXPECT_EQ(run.exit_status, 2) << testing::PrintToString(arguments);
    EXPECT_EQ(run.output, "");
    const std::string first_line = run.error_output.substr(0, run.error_output.find('\n'));
    const std::size_t any = reason.find("{any}");
    const std::string head = "murvedump: " + reason.substr(0, any);
    EXPECT_EQ(any == std::string::npos ? first_line : first_line.substr(0, head.size()), head);
    if (any != std::string::npos) {
      EXPECT_TRUE(first_line.ends_with(reason.substr(any + 5))) << first_line;
    }
    EXPECT_NE(run.error_output.find("\nusage: murvedump "), std::string::npos);
  }
  // A backup with nowhere to go is not read at all.
  const ProcessResult closed =
      run_process({"sh", "-c", std::string("exec '") + MURVEDUMP_EXE + "' -port /dev/null >&-"});
  EXPECT_EQ(closed.exit_status, 1);
  EXPECT_EQ(closed.error_output,
            "murvedump: standard output is closed: give the backup a file with -o FILE; nothing "
            "written\n");
  const ProcessResult help = run_process({MURVEDUMP_EXE, "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.output.rfind("usage: murvedump -com N | -port PORT [-baud RATE] [-o FILE]\n", 0),
            0u);
  const ProcessResult version = run_process({MURVEDUMP_EXE, "--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.output.rfind("murvedump (murvecolor) ", 0), 0u);
  const ProcessResult lost =
      run_process({"sh", "-c", std::string("exec '") + MURVEDUMP_EXE + "' --version >/dev/full"});
  EXPECT_EQ(lost.exit_status, 1);
  EXPECT_EQ(lost.error_output,
            "murvedump: cannot write to standard output: No space left on device\n");
  // The port that can't be opened, with the system's reason.
  const ProcessResult absent =
      run_process({MURVEDUMP_EXE, "-com", "7"}, {"MURVECOLOR_COM7=/nonexistent/tty"});
  EXPECT_EQ(absent.exit_status, 1);
  EXPECT_EQ(absent.error_output.rfind("murvedump: cannot open /nonexistent/tty: No such "
                                      "file or directory",
                                      0),
            0u);
}

}  // namespace
}  // namespace murve_test
