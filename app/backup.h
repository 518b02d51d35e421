#pragma once

// -backup: where murvecolor keeps what the device held before its writes.

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "device/port_enumeration.h"

namespace murve {

struct BackupPlan {
  std::string path;  // the file the backup goes to
  std::unique_ptr<AtomicFileWriter> writer;
};

// The device's identity in the name of a file made for it (a backup, a log): its adapter's USB
// serial number where it has one, else the port's name, with what a file name can't hold made
// "_" ("A1234", "COM5", "ttyUSB0"). `port_path` is the port as opened.
std::string file_identity(const std::string& port_path, const std::vector<SerialPortEntry>& ports);

// Makes `plan` ready to take the backup `target` names, before the port is opened: a folder gets
// a new file named by the device's identity and `now`, never one already there; an existing
// file is replaced only when it is a backup. Gives why it can't, or "" when it can.
std::string plan_backup(const std::string& target, const std::string& identity, std::time_t now,
                        BackupPlan& plan);

}  // namespace murve
