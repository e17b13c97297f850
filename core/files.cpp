#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace quorvane {

bool make_folders(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

int open_regular_file(const std::string& path) {
  // O_NONBLOCK keeps the open itself from waiting: a FIFO's open waits for a writer, a device's may wait
  // for the device. The type is checked on the descriptor, so it is the file that was opened.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat info {};
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
  } else if (const int flags = fcntl(fd, F_GETFL);
             flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (put == 0) return EIO;
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return 0;
}

int copy_contents(int from, int to) {
  bool in_kernel = true;
  for (;;) {
    if (in_kernel) {
      const ssize_t copied = copy_file_range(from, nullptr, to, nullptr, size_t{1} << 30, 0);
      if (copied > 0) continue;
      if (copied == 0) return 0;
      if (errno == EINTR) continue;
      // Across file systems, or where the kernel cannot: fall back to reading and writing.
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return errno;
      in_kernel = false;
    }
    char buffer[1 << 16];
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (const int error = write_all(to, std::string_view(buffer, static_cast<size_t>(got)))) return error;
  }
}

}  // namespace quorvane
