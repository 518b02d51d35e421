#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace murve {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A stdio file closed when it goes, on every path.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Why a file could not be written: the step that failed and the system's reason.
struct FileWriteError {
  std::string step;  // "write /tmp/.backup.cfg.a1B2c3", "sync ...", ...
  std::string reason;
  bool replaced = false;  // the rename was done: `path` holds the new contents all the same

  bool failed() const { return !step.empty(); }
};

enum class FileSync {
  to_disk,  // the file, and the folder after the rename, synced: it survives a crash
  none,     // for files that need not outlive the machine's running
};

// Writes `bytes` to a new temporary file beside `path`, syncs it, and renames it over `path`, so
// that `path` holds either its old contents or all of the new ones, whatever happens. The new
// file gets the mode any new file gets (0666 less the umask). When a step before the rename
// fails, the temporary file is removed and `path` is untouched.
FileWriteError write_file_atomically(const std::string& path, std::string_view bytes,
                                     FileSync sync = FileSync::to_disk);

}  // namespace murve
