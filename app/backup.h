#pragma once

// -backup: where murvecolor keeps what the device held before its writes.

#include <ctime>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "common/atomic_file.h"

namespace murve {

struct BackupPlan {
  std::string path;  // the file the backup goes to
  std::unique_ptr<AtomicFileWriter> writer;
};

// The device's identity in a backup's file name: the port's name, with what a file name can't
// hold made "_" ("COM5", "ttyUSB0").
std::string backup_identity(const RunOptions& options);

// Makes `plan` ready to take the backup `target` names, before the port is opened: a folder gets
// a new file named by the device's identity and `now`, never one already there; an existing
// file is replaced only when it is a backup. Gives why it can't, or "" when it can.
std::string plan_backup(const std::string& target, const std::string& identity, std::time_t now,
                        BackupPlan& plan);

}  // namespace murve
