// The spooler on POSIX systems: a spool folder under the temporary folder, CUPS (through the print helper)
// for printing.
#pragma once

#include <chrono>
#include <string>

#include "spooler/spooler.h"

namespace quorvane {

/// The spooler component.
class spooler_impl final : public spooler {
 public:
  /// How long a copy made for an application to open stays in the spool folder. The application, or the
  /// one a desktop opener hands the file to, may read it well after the job was answered; a day covers a
  /// slow start, a queue of files opened one after the other and a viewer reloading its file.
  static constexpr std::chrono::hours spool_copy_lifetime{24};

  /// The single instance, not initialised; the application registers it third in the component list (after
  /// the workspace and the database manager).
  static spooler_impl& instance();

  /// A spooler of its own (the instance above, or one per test).
  spooler_impl();

  /// Prepares the spool folder "{501201E7-E925-4623-9F70-3F944DA46F7B}" under $TMPDIR (else /tmp, else
  /// /var/tmp) with an inheritable rwx entry for the group "users". Returns 0 on success, else the status
  /// (1), the failure logged. Removes this account's copies older than `spool_copy_lifetime` from the
  /// folder.
  int32_t applicationWillInitialize() override;
  int32_t applicationDidInitialize() override { return status_; }

  wide_string spoolFolder() const override { return spoolFolder_; }
  wide_string makeFileName(const wide_string& base) override;
  void print(model::printer_ptr printer, model::job_ptr job, print_completion completion) override;
  void deleteJob(model::printer_ptr printer, model::job_ptr job, delete_completion done) override;

  /// Copies `file` into the spool folder for an application to open, as the file's name with "-" and the
  /// seconds since boot after the stem ("report-5012.pdf", then "report-5012 (0).pdf" ...), readable by
  /// this account only; first makes the folder again if it went, and removes this account's copies older
  /// than `spool_copy_lifetime`. Returns 0 with `copy` set, or the errno (ENOENT without a spool folder,
  /// EINVAL for a FIFO or device), logged, with no partial copy left.
  int32_t copyIntoSpoolFolder(const std::string& file, std::string& copy);

  /// Gives the group "users" rwx on `folder`, in its access ACL and its default (inherited) ACL. A folder of
  /// another account is left alone and accepted when we may write into it. Returns false, logged, on
  /// failure; a file system without ACLs counts as success (with a warning). Our own folder also gets the
  /// sticky bit, so that no other account can remove or replace the files we put there.
  static bool applyPermissions(const std::string& folder);

 private:
  wide_string spoolFolder_;
};

}  // namespace quorvane
