// Internal steps of the spooler: the copy into a printer's folder, starting applications, CUPS job removal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "core/runloop.h"
#include "service_link/print_completion.h"

namespace quorvane {

/// Copies `file` into `folder` under the first free name of "name.ext", "name (0).ext" ... "name (99).ext",
/// never overwriting (each candidate is created exclusively), with the kernel's in-place copy. On success
/// flushes the copy to disk, sets `copy` to the new path, deletes `file` and returns 0. On failure returns
/// the errno (EEXIST when all 101 names are taken), removes any partial copy and leaves `file` where it was.
int32_t copy_into_folder(const std::string& file, const std::string& folder, std::string& copy);

/// `copy_into_folder` without flushing and without deleting `file`: 0 with `copy` set, or the errno with no
/// partial copy left.
int32_t copy_file_exclusive(const std::string& file, const std::string& folder, std::string& copy);

/// `copy_file_exclusive` under the name `stem` + `extension` instead of `file`'s own (the candidates
/// "stem.ext", "stem (0).ext" ... "stem (99).ext"), created with `mode`. The stem is shortened, at a
/// character boundary, where the whole name would be longer than the file system takes. Returns 0 with `copy`
/// set, or the errno (EEXIST when every candidate is taken; EINVAL or EISDIR when `file` is not a regular
/// file).
int32_t copy_file_as(const std::string& file, const std::string& folder, const std::string& stem,
                     const std::string& extension, mode_t mode, std::string& copy);

/// The name after the last slash of `path` split at its last dot: (stem, extension with its dot), the
/// extension empty for a name without a dot.
std::pair<std::string, std::string> split_file_name(const std::string& path);

/// Removes the regular files of `folder` that belong to this account and were last changed more than `age`
/// ago (links, folders and other accounts' files stay). Returns how many went; failures are logged.
size_t remove_own_files_older_than(const std::string& folder, std::chrono::seconds age);

/// Writes the data of the file at `path` to disk. Returns 0 or the errno.
int32_t flush_to_disk(const std::string& path);

/// Opens `path`: with `application` (when not empty) started with the path as its only argument, else with
/// the desktop's opener (xdg-open). `path` must outlive the call by far: the application, or one that the
/// opener hands it to, may read it long after the completion. Calls `completion` once on `loop`'s thread with
/// (0, 9, 0) when the application started, (-1, 9, 0) when it does not exist or cannot be run, or the desktop
/// has nothing to open the file with. Never waits for an application; xdg-open is waited for on a worker
/// thread.
void open_with_application(const std::string& application, const std::string& path, runloop* loop,
                           print_completion completion);

/// Cancels and purges job `job_id` of the CUPS destination `printer` as `user`. Returns 0, or the status
/// of the failed step (see cups_status_p.h), logged. Blocking: run on a worker.
int32_t purge_cups_job(const std::string& printer, int32_t job_id, const std::string& user);

/// The whole seconds since the system started, as an unsigned 32-bit tick count in milliseconds gives them.
uint32_t seconds_since_boot();

/// The user name a CUPS job of the remote user `user` is owned by: "Guest" for exactly "guest".
std::string cups_owner_name(const std::string& user);

}  // namespace quorvane
