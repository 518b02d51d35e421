#include "app/backup.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/device_backup.h"
#include "common/message.h"
#include "common/report.h"
#include "settings/text_format.h"

namespace murve {
namespace {

// The most backups a folder gets in one second from one port before the name is left to the
// rename, which refuses it.
constexpr int k_max_same_second = 100;

// A name taken, by a file or by a link that leads nowhere.
bool exists(const std::string& path) {
  struct stat status {};
#ifdef _WIN32
  return stat(path.c_str(), &status) == 0;
#else
  return lstat(path.c_str(), &status) == 0;
#endif
}

// Why the file `path` is not to be replaced by a backup, or "" when it may be.
std::string refusal_of_existing(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return "";  // new, or not a file: the writer says what it is
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return message("cannot read {path} to tell whether it is a backup: {reason}",
                   {{"path", printable(path)}, {"reason", sentence_of(std::strerror(errno))}});
  }
  std::string start(backup_header_start_size(), '\0');
  start.resize(std::fread(start.data(), 1, start.size(), file));
  std::fclose(file);
  if (begins_as_backup(start)) {
    return "";
  }
  return message(
      "-backup {path}: the file exists and is not a backup (it does not begin as murvedump's "
      "backups do); give another name, or a folder",
      {{"path", printable(path)}});
}

}  // namespace

std::string file_identity(const std::string& port_path, const std::vector<SerialPortEntry>& ports) {
  std::string name = port_path.substr(port_path.find_last_of("/\\") + 1);
  for (const SerialPortEntry& port : ports) {
    if (port.usb && !port.usb->serial.empty() &&
        (port.path == port_path || port.stable_path == port_path)) {
      name = port.usb->serial;
      break;
    }
  }
  for (char& c : name) {
    const bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      std::strchr("-_.+", c) != nullptr;
    c = safe ? c : '_';
  }
  return name.empty() ? "port" : name;
}

std::string plan_backup(const std::string& target, const std::string& identity, std::time_t now,
                        BackupPlan& plan) {
  struct stat status {};
  FileReplace replace = FileReplace::allowed;
  if (stat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::array<char, 32> when{};
    std::strftime(when.data(), when.size(), "%Y%m%d-%H%M%S", std::localtime(&now));
    const bool separated = target.ends_with('/') || target.ends_with('\\');
    const std::string stem =
        target + (separated ? "" : "/") + "murve-" + identity + "-" + when.data();
    plan.path = stem + ".cfg";
    for (int number = 2; exists(plan.path) && number <= k_max_same_second; ++number) {
      plan.path = stem + "-" + std::to_string(number) + ".cfg";
    }
    replace = FileReplace::never;
  } else {
    plan.path = target;
    if (const std::string why = refusal_of_existing(target); !why.empty()) {
      return why;
    }
  }
  plan.writer = std::make_unique<AtomicFileWriter>(plan.path, FileSync::to_disk, replace);
  return explain_file_write(plan.writer->preparation());
}

}  // namespace murve
