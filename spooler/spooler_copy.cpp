// Copies of a received job: into its printer's folder, or into the spool folder for an application to
// open; and the removal of old copies.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/files.h"
#include "core/log.h"
#include "core/os.h"
#include "spooler/spooler_p.h"

namespace quorvane {

namespace {

constexpr int last_candidate = 99;

}  // namespace

std::pair<std::string, std::string> split_file_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {name, std::string()};
  return {name.substr(0, dot), name.substr(dot)};
}

int32_t copy_file_as(const std::string& file, const std::string& folder, const std::string& stem,
                     const std::string& extension, mode_t mode, std::string& copy) {
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  // Without blocking: a FIFO or device under the job's name would otherwise stop the caller's thread.
  const int source = open_regular_file(file);
  if (source < 0) return errno;
  int error = 0;

  // Each candidate is created exclusively, so a file that appears between two deliveries is never
  // overwritten. A stem that would make the name too long for the file system gives way to the number and
  // the extension, which says how to open the file.
  std::string target;
  int destination = -1;
  error = EEXIST;
  for (int n = -1; n <= last_candidate && destination < 0; ++n) {
    const std::string number = n < 0 ? std::string() : " (" + std::to_string(n) + ")";
    const size_t room =
        NAME_MAX > number.size() + extension.size() ? NAME_MAX - number.size() - extension.size() : 0;
    target = prefix + utf8_prefix(stem, room) + number + extension;
    destination = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (destination < 0 && errno != EEXIST) error = errno;
    if (destination < 0 && error != EEXIST) break;
  }
  if (destination < 0) {
    close(source);
    return error;
  }

  error = copy_contents(source, destination);
  close(source);
  if (close(destination) != 0 && error == 0) error = errno;
  if (error != 0) {
    unlink(target.c_str());
    return error;
  }
  copy = target;
  return 0;
}

int32_t copy_file_exclusive(const std::string& file, const std::string& folder, std::string& copy) {
  const auto [stem, extension] = split_file_name(file);
  return copy_file_as(file, folder, stem, extension, 0644, copy);
}

size_t remove_own_files_older_than(const std::string& folder, std::chrono::seconds age) {
  DIR* listing = opendir(folder.c_str());
  if (!listing) {
    if (errno != ENOENT) {
      QV_LOG(log_warning, "Unable to list folder '%s': %s", folder.c_str(), strerror(errno));
    }
    return 0;
  }
  const time_t now = time(nullptr);
  const uid_t me = geteuid();
  size_t removed = 0;
  // Looked at without following links, so only this account's own regular files go, never what a link
  // points at, a folder, or another account's files in a folder several accounts share.
  while (const dirent* entry = readdir(listing)) {
    struct stat info {};
    if (fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(info.st_mode) || info.st_uid != me) continue;
    if (now - info.st_mtime <= age.count()) continue;
    if (unlinkat(dirfd(listing), entry->d_name, 0) == 0) {
      ++removed;
    } else if (errno != ENOENT) {
      QV_LOG(log_warning, "Unable to remove old copy '%s/%s': %s", folder.c_str(), entry->d_name,
             strerror(errno));
    }
  }
  closedir(listing);
  return removed;
}

int32_t flush_to_disk(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return errno;
  const int error = fdatasync(file) == 0 ? 0 : errno;
  close(file);
  return error;
}

int32_t copy_into_folder(const std::string& file, const std::string& folder, std::string& copy) {
  int32_t error = copy_file_exclusive(file, folder, copy);
  // The copy becomes the only one once the received file is deleted: it must be on disk first, or a power
  // cut in the next seconds could leave an empty copy and no original.
  if (error == 0 && (error = flush_to_disk(copy)) != 0) {
    unlink(copy.c_str());
    copy.clear();
    return error;
  }
  // The received file goes only once its copy is complete and on disk.
  if (error == 0 && unlink(file.c_str()) != 0) {
    QV_LOG(log_warning, "Unable to delete received file '%s': %s", file.c_str(), strerror(errno));
  }
  return error;
}

uint32_t seconds_since_boot() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  // A 32-bit millisecond tick count wraps after 49.7 days; the seconds wrap with it.
  const auto ticks = static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
  return ticks / 1000;
}

}  // namespace quorvane
