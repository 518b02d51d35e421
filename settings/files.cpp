#include "settings/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace murve {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
int sync_file(int fd) {
  return _commit(fd);
}
// Windows has no file modes to set, and makes a rename durable without a sync of the folder.
int set_new_file_mode(int) {
  return 0;
}
int sync_folder(const fs::path&) {
  return 0;
}
#else
int sync_file(int fd) {
  return fsync(fd);
}
// mkstemp makes the file 0600; a backup is an ordinary file of the user's.
int set_new_file_mode(int fd) {
  const mode_t mask = umask(0);
  umask(mask);
  return fchmod(fd, 0666 & ~mask);
}
// So that the rename itself survives a crash.
int sync_folder(const fs::path& folder) {
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

FileWriteError write_file_atomically(const std::string& path, std::string_view bytes,
                                     FileSync sync) {
  const fs::path target(path);
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  // Hidden and beside the target, so that the rename stays within one file system.
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  std::string temporary = (folder / name).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    return {"create a temporary file in " + folder.string(), std::strerror(errno)};
  }
  const char* step = nullptr;
  if (set_new_file_mode(fd) != 0) {
    step = "set the mode of";
  } else if (write_all(fd, bytes) != 0) {
    step = "write";
  } else if (sync == FileSync::to_disk && sync_file(fd) != 0) {
    step = "sync";
  }
  int error = errno;
  if (close(fd) != 0 && step == nullptr) {
    step = "close";
    error = errno;
  }
  if (step != nullptr) {
    std::remove(temporary.c_str());
    return {std::string(step) + " " + temporary, std::strerror(error)};
  }
  std::error_code renamed;
  fs::rename(temporary, target, renamed);
  if (renamed) {
    std::remove(temporary.c_str());
    return {"rename " + temporary + " to " + path, renamed.message()};
  }
  if (sync == FileSync::to_disk && sync_folder(folder) != 0) {
    return {"sync the folder " + folder.string() + " after the rename", std::strerror(errno), true};
  }
  return {};
}

}  // namespace murve
