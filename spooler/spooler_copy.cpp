// The copy of a received job into its printer's folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/files.h"
#include "core/log.h"
#include "spooler/spooler_p.h"

namespace quorvane {

namespace {

constexpr int last_candidate = 99;

}  // namespace

int32_t copy_file_exclusive(const std::string& file, const std::string& folder, std::string& copy) {
  // The name after the last slash, split at its last dot; the extension keeps the dot.
  const size_t slash = file.rfind('/');
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";

  // Without blocking: a FIFO or device under the job's name would otherwise stop the caller's thread.
  const int source = open_regular_file(file);
  if (source < 0) return errno;
  int error = 0;

  // Each candidate is created exclusively, so a file that appears between two deliveries is never
  // overwritten.
  std::string target;
  int destination = -1;
  error = EEXIST;
  for (int n = -1; n <= last_candidate && destination < 0; ++n) {
    target = prefix + stem + (n < 0 ? std::string() : " (" + std::to_string(n) + ")") + extension;
    destination = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
