#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/message.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "device/serial_link.h"  // system_error_text: FormatMessage's words, as the port's are
#else
#include <unistd.h>
#endif

namespace murve {
namespace {

namespace fs = std::filesystem;

// Symbolic links followed at most; more is a loop.
constexpr int k_max_link_depth = 40;

// The longest name a folder entry may have: 255 bytes on Linux's file systems, 255 UTF-16 units
// on Windows' (a UTF-8 byte never makes more than one).
constexpr std::size_t k_max_name_length = 255;
// What mkstemp's pattern adds to the file's own name: the leading dot and ".XXXXXX".
constexpr std::size_t k_temporary_extra = 8;

// The hidden temporary's name for the file `name`: its name cut, at a character's start, so
// that the temporary fits wherever the name itself does, `limit` bytes at most.
std::string temporary_name(std::string name, std::size_t limit) {
  if (limit > k_temporary_extra && name.size() + k_temporary_extra > limit) {
    std::size_t keep = limit - k_temporary_extra;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xc0) == 0x80) {
      --keep;  // not inside a UTF-8 sequence
    }
    name.resize(keep);
  }
  return "." + name + ".XXXXXX";
}

#ifdef _WIN32
// CON, NUL, COM1 and the like name a device in every folder, with any extension ("aux.cfg").
bool is_device_name(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && (stem.back() == ' ')) {
    stem.pop_back();
  }
  for (char& c : stem) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) {
      return true;
    }
  }
  // COM1-COM9 and LPT1-LPT9, also with a superscript digit (UTF-8 C2 B9, C2 B2, C2 B3).
  const std::string prefix = stem.substr(0, 3);
  if (prefix != "COM" && prefix != "LPT") {
    return false;
  }
  const std::string number = stem.substr(3);
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xc2\xb9" ||
         number == "\xc2\xb2" || number == "\xc2\xb3";
}
int sync_file(int fd) {
  return _commit(fd);
}
// Windows has no file modes to set, and makes a rename durable without a sync of the folder.
int set_file_mode(int, const std::string&, const std::string&) {
  return 0;
}
int sync_folder(const std::string&) {
  return 0;
}
// Windows' symbolic links need privileges to make; a path is taken as it is.
std::string follow_links(const std::string& path, FileWriteError&) {
  return path;
}
// std::filesystem reads a char path in the C runtime's "C" locale, not in the process's code
// page (UTF-8, by the manifest), and would mangle a name outside ASCII: here the name is split
// on its bytes, and renamed by a call that reads them in the code page, as fopen and mkstemp do.
// Where the file's own name begins: after the last separator, or after a drive's "C:".
std::size_t name_start(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  if (separator != std::string::npos) {
    return separator + 1;
  }
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}
std::string folder_of(const std::string& path) {
  const std::size_t start = name_start(path);
  return start == 0 ? "." : path.substr(0, start);
}
std::string name_of(const std::string& path) {
  return path.substr(name_start(path));
}
std::string temporary_template(const std::string& path, std::size_t limit) {
  const std::size_t start = name_start(path);
  return path.substr(0, start) + temporary_name(path.substr(start), limit);
}
// A component's limit on Windows' file systems, in UTF-16 units.
std::size_t name_limit(const std::string&) {
  return k_max_name_length;
}
std::size_t name_length(const std::string& name) {
  const int units =
      MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  return units > 0 ? static_cast<std::size_t>(units) : name.size();
}
// The read-only attribute, which MoveFileEx would meet only after the device was read.
FileWriteStep replace_refusal(const std::string& path, const struct stat&, const std::string&) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0
             ? FileWriteStep::read_only
             : FileWriteStep::none;
}
// Empty when `from` replaced `to`, or took its name when there was none, else the system's reason.
std::string rename_over(const std::string& from, const std::string& to, FileSync sync,
                        FileReplace replace) {
  const DWORD flags = (replace == FileReplace::allowed ? MOVEFILE_REPLACE_EXISTING : 0) |
                      (sync == FileSync::to_disk ? MOVEFILE_WRITE_THROUGH : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags)) {
    return "";
  }
  return system_error_text(static_cast<int>(GetLastError()));
}
#else
int sync_file(int fd) {
  return fsync(fd);
}
std::string folder_of(const std::string& path) {
  const fs::path target(path);
  return target.parent_path().empty() ? "." : target.parent_path().string();
}
std::string name_of(const std::string& path) {
  return fs::path(path).filename().string();
}
// The owner of `folder` if it is sticky, where only a file's owner, the folder's owner and root
// may replace the file.
std::optional<uid_t> sticky_folder_owner(const std::string& folder) {
  struct stat parent {};
  if (stat(folder.c_str(), &parent) != 0 || (parent.st_mode & S_ISVTX) == 0) {
    return std::nullopt;
  }
  return parent.st_uid;
}
// Another user's file in a sticky folder that is not the folder owner's either: planted there,
// it says nothing of how the user's backup is to be kept.
bool is_planted(const struct stat& file, const std::string& folder) {
  const std::optional<uid_t> owner = sticky_folder_owner(folder);
  return owner && file.st_uid != geteuid() && file.st_uid != *owner;
}
// mkstemp makes the file 0600: a new backup is an ordinary file of the user's, and one that
// replaces a file keeps its owner and mode as if written in place; when its group can't be kept,
// the group gets what others get, so that the mode grants no one more than before.
int set_file_mode(int fd, const std::string& replaced, const std::string& folder) {
  struct stat old {};
  if (stat(replaced.c_str(), &old) != 0 || !S_ISREG(old.st_mode) || is_planted(old, folder)) {
    const mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask);
  }
  mode_t mode = old.st_mode & 0777;
  if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    mode = (mode & 0707) | ((mode & 07) << 3);
  }
  return fchmod(fd, mode);
}
// So that the rename itself survives a crash.
int sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  const int synced = fsync(fd);
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}
// In a sticky folder anyone may write to, such as /tmp, another user may plant a file or a link
// under the name the user gives (fs.protected_symlinks).
bool is_shared_sticky(const struct stat& folder) {
  return (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}
// The file a chain of symbolic links ends at, existing or not. A link the kernel would not follow
// there (neither the user's nor the folder owner's) is refused, as is a loop.
std::string follow_links(const std::string& path, FileWriteError& refused) {
  fs::path current(path);
  for (int depth = 0; depth < k_max_link_depth; ++depth) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      return current.string();
    }
    struct stat folder {};
    if (stat(folder_of(current).c_str(), &folder) != 0) {
      refused = {FileWriteStep::follow_link, path, "", std::strerror(errno)};
      return current.string();
    }
    if (is_shared_sticky(folder) && status.st_uid != geteuid() && status.st_uid != folder.st_uid) {
      refused = {FileWriteStep::unsafe_link, current.string(), "", ""};
      return current.string();
    }
    std::error_code failed;
    const fs::path target = fs::read_symlink(current, failed);
    if (failed) {
      refused = {FileWriteStep::follow_link, path, "", failed.message()};
      return current.string();
    }
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  refused = {FileWriteStep::follow_link, path, "", std::strerror(ELOOP)};
  return current.string();
}
// Hidden and beside the target, so that the rename stays within one file system.
std::string temporary_template(const std::string& path, std::size_t limit) {
  return (fs::path(folder_of(path)) / temporary_name(name_of(path), limit)).string();
}
// The longest name `folder` takes, in bytes; 0 when it can't be asked (mkstemp then says why).
std::size_t name_limit(const std::string& folder) {
  errno = 0;
  const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (limit > 0) {
    return static_cast<std::size_t>(limit);
  }
  return errno == 0 ? SIZE_MAX : 0;  // no limit at all, or no such folder
}
std::size_t name_length(const std::string& name) {
  return name.size();
}
// Why the existing file `path` (`status`) in `folder` is not to be replaced: what cp without -f
// would not write over, judged for root by the owner's write bit (root may write any file), or
// another user's file in a sticky folder, which the rename may not replace.
FileWriteStep replace_refusal(const std::string& path, const struct stat& status,
                              const std::string& folder) {
  const uid_t user = geteuid();
  const bool root = user == 0;
  const bool writable = faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0
                            ? !root || (status.st_mode & S_IWUSR) != 0
                            : errno != EACCES;  // a read-only file system: mkstemp says so
  if (!writable) {
    return FileWriteStep::read_only;
  }
  const std::optional<uid_t> owner = sticky_folder_owner(folder);
  return !root && owner && status.st_uid != user && *owner != user ? FileWriteStep::others_file
                                                                   : FileWriteStep::none;
}
// Empty when `from` replaced `to`, or took its name when there was none, else the system's reason.
std::string rename_over(const std::string& from, const std::string& to, FileSync,
                        FileReplace replace) {
  if (replace == FileReplace::never) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      return "";
    }
    // A file system without RENAME_NOREPLACE: a hard link refuses an existing name as well.
    if (errno != EINVAL && errno != ENOSYS) {
      return std::strerror(errno);
    }
    if (link(from.c_str(), to.c_str()) != 0) {
      return std::strerror(errno);
    }
    unlink(from.c_str());
    return "";
  }
  std::error_code renamed;
  fs::rename(from, to, renamed);
  return renamed ? renamed.message() : "";
}
#endif

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto written = write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      if (written == 0) {
        errno = EIO;  // nothing written and no reason given: errno would be a stale one
      }
      return -1;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const std::string& path, FileSync sync, FileReplace replace)
    : sync_(sync), replace_(replace) {
  path_ = follow_links(path, prepared_);
  if (prepared_.failed()) {
    return;
  }
#ifdef _WIN32
  if (is_device_name(path_.substr(name_start(path_)))) {
    prepared_ = {FileWriteStep::not_a_file, path_, "", ""};
    return;
  }
#endif
  struct stat status {};
  const bool exists = stat(path_.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) {
    prepared_ = {S_ISDIR(status.st_mode) ? FileWriteStep::is_folder : FileWriteStep::not_a_file,
                 path_, "", ""};
    return;
  }
  folder_ = folder_of(path_);
  // Known now, rather than when the rename fails after the device was read.
  const std::size_t limit = name_limit(folder_);
  if (limit != 0 && name_length(name_of(path_)) > limit) {
    prepared_ = {FileWriteStep::name_too_long, path_, "", "", limit};
    return;
  }
  if (const FileWriteStep refusal =
          exists ? replace_refusal(path_, status, folder_) : FileWriteStep::none;
      refusal != FileWriteStep::none) {
    prepared_ = {refusal, path_, "", ""};
    return;
  }
  pattern_ = temporary_template(path_, limit == 0 ? k_max_name_length : limit);
  if (!make_temporary()) {
    prepared_ = {FileWriteStep::create_temporary, folder_, "", std::strerror(errno)};
    return;
  }
  close(fd_);
  fd_ = -1;
  std::remove(temporary_.c_str());
  temporary_.clear();
}

bool AtomicFileWriter::make_temporary() {
  temporary_ = pattern_;
  fd_ = mkstemp(temporary_.data());
  if (fd_ < 0) {
    temporary_.clear();
    return false;
  }
  return true;
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) {
    close(fd_);
  }
  if (!temporary_.empty()) {
    std::remove(temporary_.c_str());
  }
}

FileWriteError AtomicFileWriter::commit(std::string_view bytes) {
  if (prepared_.failed()) {
    return prepared_;
  }
  if (!make_temporary()) {
    return {FileWriteStep::create_temporary, folder_, "", std::strerror(errno)};
  }
  FileWriteStep step = FileWriteStep::none;
  if (set_file_mode(fd_, path_, folder_) != 0) {
    step = FileWriteStep::set_mode;
  } else if (write_all(fd_, bytes) != 0) {
    step = FileWriteStep::write;
  } else if (sync_ == FileSync::to_disk && sync_file(fd_) != 0) {
    step = FileWriteStep::sync;
  }
  int error = errno;
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0 && step == FileWriteStep::none) {
    step = FileWriteStep::close;
    error = errno;
  }
  if (step != FileWriteStep::none) {
    return {step, temporary_, "", std::strerror(error)};
  }
  if (const std::string reason = rename_over(temporary_, path_, sync_, replace_); !reason.empty()) {
    return {FileWriteStep::rename, temporary_, path_, reason};
  }
  temporary_.clear();
  if (sync_ == FileSync::to_disk && sync_folder(folder_) != 0) {
    return {FileWriteStep::sync_folder, folder_, "", std::strerror(errno), true};
  }
  return {};
}

std::string explain_file_write(const FileWriteError& error) {
  const std::initializer_list<MessagePart> parts = {
      {"path", error.path}, {"target", error.target}, {"reason", sentence_of(error.reason)}};
  switch (error.step) {
    case FileWriteStep::follow_link:
      return message("cannot follow the symbolic link {path}: {reason}", parts);
    case FileWriteStep::unsafe_link:
      return message(
          "cannot follow the symbolic link {path}: it is in a sticky folder that anyone may write "
          "to, and belongs to neither you nor the folder's owner",
          parts);
    case FileWriteStep::read_only:
      return message(
          "cannot replace {path}: it is read-only (to replace it, make it writable or remove it "
          "first)",
          parts);
    case FileWriteStep::others_file:
      return message(
          "cannot replace {path}: it belongs to another user, in a sticky folder where only "
          "they or the folder's owner may replace it",
          parts);
    case FileWriteStep::name_too_long:
#ifdef _WIN32
      return message(
          "cannot write {path}: its name is longer than the {limit} characters a name may have",
          {{"path", error.path}, {"limit", std::to_string(error.limit)}});
#else
      return message(
          "cannot write {path}: its name is longer than the {limit} bytes a name in its folder "
          "may have",
          {{"path", error.path}, {"limit", std::to_string(error.limit)}});
#endif
    case FileWriteStep::is_folder:
      return message("cannot write {path}: it is a folder", parts);
    case FileWriteStep::not_a_file:
      return message("cannot write {path}: it is not a regular file (a device or a FIFO?)", parts);
    case FileWriteStep::create_temporary:
      return message("cannot create a temporary file in {path}: {reason}", parts);
    case FileWriteStep::set_mode:
      return message("cannot set the mode of {path}: {reason}", parts);
    case FileWriteStep::write:
      return message("cannot write {path}: {reason}", parts);
    case FileWriteStep::sync:
      return message("cannot sync {path}: {reason}", parts);
    case FileWriteStep::close:
      return message("cannot close {path}: {reason}", parts);
    case FileWriteStep::rename:
      return message("cannot rename {path} to {target}: {reason}", parts);
    case FileWriteStep::sync_folder:
      return message("cannot sync the folder {path} after the rename: {reason}", parts);
    case FileWriteStep::none:
      break;
  }
  return "";
}

FileWriteError write_file_atomically(const std::string& path, std::string_view bytes,
                                     FileSync sync) {
  AtomicFileWriter writer(path, sync);
  return writer.commit(bytes);
}

}  // namespace murve
