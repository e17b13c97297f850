// The service's spool: naming, typing and copying the documents it queues.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace quorvane::print_service {

/// Bits of the "filenameGenerationFlags" attribute: what goes into a spooled document's name.
enum filename_flag : int32_t {
  filename_with_user = 1,
  filename_with_address = 2,
  filename_with_hardware_address = 4,
};

/// The longest file name, in bytes, that the file systems of Linux take.
inline constexpr size_t max_spooled_name = 255;

/// The MIME type that the first bytes of a document show: PDF, JPEG, PNG, else "application/octet-stream".
std::string detect_format(std::string_view head);

/// The format of the regular file at `path` from its first bytes; "" (errno set) when it cannot be read or
/// is not a regular file (a FIFO or a device is refused, not waited for).
std::string detect_file_format(const std::string& path);

/// The spooled document's name: the base name of `document` without its extension, then "+user",
/// "+address" and "+hardware address" for the bits of `flags` that are set and whose text is not empty,
/// then the extension. Slashes and control characters of the parts become "_"; an empty base is "document".
/// A name longer than `max_spooled_name` bytes loses the end of its stem (never half a UTF-8 character),
/// keeping the extension.
std::string spooled_file_name(std::string_view document, int32_t flags, std::string_view user,
                              std::string_view address, std::string_view hardware_address);

/// Copies `source` into the new folder `folder` (created with mode 0700) under `name`. Returns the copy's
/// path, or "" after logging the cause when the source cannot be read or the copy cannot be written
/// (a partial copy is removed).
std::string copy_into_spool(const std::string& source, const std::string& folder, const std::string& name);

/// Whether `name` has the shape of a job's folder in the spool: a 36-character UUID text.
bool is_job_folder_name(std::string_view name);

/// Deletes the spool folder of the job `job_uuid` (`spool_folder`/`job_uuid`) with the documents in it. A
/// folder that is already gone counts as deleted. Returns false after logging what could not be deleted;
/// a `job_uuid` that is not a UUID text is refused.
bool remove_job_spool(const std::string& spool_folder, const std::string& job_uuid);

/// Makes `spool_folder` if needed, takes away any access of others to it (owner only; with `others_may_pass`
/// others may pass through it, mode 0711, never list it), and deletes every
/// job folder in it that does not belong to `keep` (the jobs still queued): what a run that was interrupted
/// left of ended jobs. Entries that are not job folders are left alone. Returns how many job folders were
/// deleted, -1 after logging when the folder cannot be made or read.
int32_t clean_spool(const std::string& spool_folder, const std::set<std::string>& keep,
                    bool others_may_pass = false);

/// Lets the local account `account` read the spooled `document` and pass through its job folder (with
/// `may_delete` also remove files of that folder), through named entries of their access ACLs; nobody else
/// gains anything. Returns false after logging when the file system refuses (no ACL support, say).
bool grant_receiver_access(const std::string& document, uid_t account, bool may_delete);

/// The bytes a spool keeps free on a file system of `file_system_size` bytes: 1 % of it, at least 16 MiB and
/// at most 512 MiB. A document that would leave less free is refused.
uint64_t spool_reserve(uint64_t file_system_size);

/// Checks, before anything is written, that a document of `bytes` fits into the file system holding `folder`
/// (or its nearest existing parent while `folder` does not exist) and leaves `spool_reserve` free. Returns
/// true when it does; otherwise false with `cause` one line saying how much is free and how much must stay
/// free (or why the file system could not be asked), for an "Unable to spool document '...': <cause>"
/// message.
bool spool_has_room(const std::string& folder, uint64_t bytes, std::string& cause);

}  // namespace quorvane::print_service
