#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace murve {

// The step of writing a file that failed.
enum class FileWriteStep {
  none,
  follow_link,       // `path`: the symbolic link given
  unsafe_link,       // `path`: another user's link in a sticky folder anyone may write to
  is_folder,         // `path` is a folder
  not_a_file,        // `path` is a device or a FIFO
  read_only,         // `path`: the file, which its owner (or the user) may not write
  others_file,       // `path`: another user's file in a sticky folder
  name_too_long,     // `path`: a name longer than its folder takes, `limit`
  create_temporary,  // `path`: the folder
  set_mode,          // `path`: the temporary file
  write,
  sync,
  close,
  rename,       // `path` to `target`
  sync_folder,  // `path`: the folder, after the rename
};

// Why a file could not be written: the step that failed, on what, and the system's reason.
struct FileWriteError {
  FileWriteStep step = FileWriteStep::none;
  std::string path;
  std::string target;  // rename: the file the temporary one was to replace
  std::string reason;
  std::size_t limit = 0;  // name_too_long: the longest name the folder takes
  bool replaced = false;  // the rename was done: the file holds the new contents all the same

  bool failed() const { return step != FileWriteStep::none; }
};

// The error as a sentence: "cannot write /tmp/.backup.cfg.a1B2c3: No space left on device".
std::string explain_file_write(const FileWriteError& error);

enum class FileSync {
  to_disk,  // the file, and the folder after the rename, synced: it survives a crash
  none,     // for files that need not outlive the machine's running
};

enum class FileReplace {
  allowed,  // an existing file of that name is replaced
  never,    // the rename fails, rather than replace a file made after the writer was
};

// A file replaced whole or not at all: the new contents go to a temporary file beside it, which
// is synced and renamed over it. A temporary file is made and removed at once when the writer
// is made, so that a name that can't be written is known before anything else is done, and a
// signal in between leaves nothing behind.
class AtomicFileWriter {
 public:
  // A symbolic link is written through: the file it names is replaced, beside it, unless the
  // kernel would not follow the link (another user's, in a sticky folder anyone may write to).
  // Anything that is neither a regular file nor a new name (a device, a FIFO, a folder) is
  // refused, and so are a file that cp without -f would not write over (read-only), a file in a
  // sticky folder that the rename may not replace, and a name longer than its folder takes.
  explicit AtomicFileWriter(const std::string& path, FileSync sync = FileSync::to_disk,
                            FileReplace replace = FileReplace::allowed);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Why the file can't be written, found when the writer was made; nothing failed when empty.
  const FileWriteError& preparation() const { return prepared_; }

  // Writes `bytes`, syncs and renames. A new file gets the mode any new file gets (0666 less the
  // umask); a replaced one keeps its mode, owner and group where it can.
  FileWriteError commit(std::string_view bytes);

 private:
  bool make_temporary();

  std::string path_;     // the file to be replaced, after symbolic links
  std::string folder_;   // where it is, and the temporary file with it
  std::string pattern_;  // the temporary file's name, for mkstemp
  std::string temporary_;
  int fd_ = -1;
  FileSync sync_;
  FileReplace replace_;
  FileWriteError prepared_;
};

// The same in one step, for a caller with nothing to do in between.
FileWriteError write_file_atomically(const std::string& path, std::string_view bytes,
                                     FileSync sync = FileSync::to_disk);

}  // namespace murve
