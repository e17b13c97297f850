// Files and folders as every layer uses them: making folders, opening a document without blocking on it,
// and copying contents between open files.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

/// Creates `path` and its missing parents (mode 0700 for those made here). Returns false, with errno set,
/// when `path` is not a folder afterwards (ENOTDIR when something else has its name).
bool make_folders(const std::string& path);

/// Opens the regular file `path` for reading (close-on-exec) without ever blocking, whatever `path` names:
/// a FIFO, a device or a socket is refused instead of waiting for a writer or a device. Returns the
/// descriptor, or -1 with errno set: EISDIR for a folder, EINVAL for anything else that is not a regular
/// file, the open's own errno otherwise.
int open_regular_file(const std::string& path);

/// Writes all of `bytes` to `fd`, again after short writes and interruptions. Returns 0, or the errno of
/// the write that failed (EIO for a write that took nothing).
int write_all(int fd, std::string_view bytes);

/// Copies everything from the descriptor `from` (at its offset) to `to`: in the kernel where it can, else
/// through a buffer. Returns 0, or the errno of the read or write that failed.
int copy_contents(int from, int to);

}  // namespace quorvane
