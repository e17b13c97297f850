#include "spooler/spooler_impl.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "core/thread.h"
#include "spooler/delivery_failure.h"
#include "spooler/document_folder.h"
#include "spooler/print_helper.h"
#include "spooler/spooler_p.h"

namespace quorvane {

namespace {

constexpr const char* spool_folder_name = "{501201E7-E925-4623-9F70-3F944DA46F7B}";
constexpr size_t max_path_characters = 259;

// Creates `folder` (an existing one counts as success); logs the failure.
bool make_folder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  QV_LOG(log_error, "mkdir(%s) failed: %d", folder.c_str(), errno);
  return false;
}

// Closes a descriptor and frees ACLs on every return path.
struct acl_handles {
  int folder = -1;
  acl_t access = nullptr;
  acl_t inherited = nullptr;
  ~acl_handles() {
    if (access) acl_free(access);
    if (inherited) acl_free(inherited);
    if (folder >= 0) close(folder);
  }
};

// Gives `group` rwx in `acl` (changing its entry or adding one) and recomputes the mask.
bool grant_group(acl_t* acl, gid_t group) {
  acl_entry_t entry = nullptr;
  bool found = false;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(*acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != ACL_GROUP) continue;
    auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
    found = qualifier && *qualifier == group;
    acl_free(qualifier);
    if (found) break;
  }
  if (!found && (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, ACL_GROUP) != 0 ||
                 acl_set_qualifier(entry, &group) != 0)) {
    return false;
  }
  acl_permset_t permissions;
  if (acl_get_permset(entry, &permissions) != 0) return false;
  acl_clear_perms(permissions);
  acl_add_perm(permissions, ACL_READ);
  acl_add_perm(permissions, ACL_WRITE);
  acl_add_perm(permissions, ACL_EXECUTE);
  return acl_set_permset(entry, permissions) == 0 && acl_calc_mask(acl) == 0;
}

// Why copying the received `file` into a folder failed with `error`: the document when it cannot be read or
// is not a regular file, else what the errno says of the folder.
delivery_failure copy_failure_of(const std::string& file, int32_t error) {
  if (error == EINVAL || error == EISDIR || access(file.c_str(), R_OK) != 0)
    return delivery_failure::document_unreadable;
  return folder_failure_of(error);
}

// Why opening a document with `application` ("" for the desktop's opener) failed.
delivery_failure open_failure_of(const std::string& application) {
  if (application.empty()) return delivery_failure::no_application_for_document;
  // A bare name was looked for on PATH by the failed start; a path that names a file names an application
  // that is there but does not start (not executable, a bad interpreter line, a file of another system).
  struct stat info {};
  if (application.find('/') == std::string::npos || stat(application.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return delivery_failure::application_missing;
  }
  return delivery_failure::application_not_starting;
}

}  // namespace

std::string cups_owner_name(const std::string& user) {
  return user == "guest" ? std::string("Guest") : user;
}

spooler& spooler::shared() {
  return initialized(spooler_impl::instance());
}

spooler_impl& spooler_impl::instance() {
  static spooler_impl the_spooler;
  return the_spooler;
}

spooler_impl::spooler_impl() = default;

bool spooler_impl::applyPermissions(const std::string& folder) {
  acl_handles h;
  h.folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (h.folder < 0) {
    QV_LOG(log_error, "Unable to open spool folder '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  struct stat info {};
  if (fstat(h.folder, &info) != 0) {
    QV_LOG(log_error, "Unable to examine spool folder '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  // Another account's folder is not ours to change; it serves as long as we may write into it.
  if (info.st_uid != geteuid()) {
    if (access(folder.c_str(), W_OK | X_OK) == 0) return true;
    QV_LOG(log_error, "Unable to use spool folder '%s': it belongs to user %u and is not writable",
           folder.c_str(), static_cast<unsigned>(info.st_uid));
    return false;
  }
  // As in the system's shared temporary folder: everyone may add files, only a file's owner may remove
  // or rename it. The permission bits are kept as they are (with an ACL the group bits are its mask).
  if (fchmod(h.folder, (info.st_mode & 07777) | S_ISVTX) != 0) {
    QV_LOG(log_error, "Unable to protect the files of spool folder '%s': %s", folder.c_str(),
           strerror(errno));
    return false;
  }
  // The group's member list may need more room than a first guess (a directory service's "users").
  group buffer{};
  group* users = nullptr;
  std::vector<char> text(4096);
  int lookup;
  while ((lookup = getgrnam_r("users", &buffer, text.data(), text.size(), &users)) == ERANGE &&
         text.size() < (size_t{1} << 24)) {
    text.resize(text.size() * 4);
  }
  if (lookup != 0 || !users) {
    QV_LOG(log_error, "Unable to find group 'users': %s", lookup != 0 ? strerror(lookup) : "no such group");
    return false;
  }
  const gid_t users_gid = users->gr_gid;

  h.access = acl_get_fd(h.folder);
  if (!h.access) {
    if (errno == ENOTSUP) {
      QV_LOG(log_warning, "Spool folder '%s' is on a file system without ACLs", folder.c_str());
      return true;
    }
    QV_LOG(log_error, "Unable to read the ACL of '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  // The default ACL starts as a copy of the access ACL when the folder has none yet.
  h.inherited = acl_get_file(folder.c_str(), ACL_TYPE_DEFAULT);
  if (h.inherited && acl_entries(h.inherited) == 0) {
    acl_free(h.inherited);
    h.inherited = acl_dup(h.access);
  }
  if (!h.inherited || !grant_group(&h.access, users_gid) || !grant_group(&h.inherited, users_gid)) {
    QV_LOG(log_error, "Unable to build the ACL of '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  if (acl_set_fd(h.folder, h.access) != 0 ||
      acl_set_file(folder.c_str(), ACL_TYPE_DEFAULT, h.inherited) != 0) {
    if (errno == ENOTSUP) {
      QV_LOG(log_warning, "Spool folder '%s' is on a file system without ACLs", folder.c_str());
      return true;
    }
    QV_LOG(log_error, "Unable to set the ACL of '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  return true;
}

int32_t spooler_impl::applicationWillInitialize() {
  if (status_ == 0) return 0;
  // The temporary folder, else the system's shared one for lasting temporary files.
  std::string base = environment("TMPDIR");
  if (base.empty() || base.front() != '/') base = "/tmp";
  if (!make_folder(base)) base = "/var/tmp";
  if (!make_folder(base)) {
    QV_LOG(log_error, "Unable to create default spool folder");
    return status_;
  }
  if (base.back() != '/') base += '/';
  const std::string folder = base + spool_folder_name;
  if (folder.size() > max_path_characters) {
    QV_LOG(log_error, "mkdir(%s) failed: %d", folder.c_str(), ENAMETOOLONG);
    return status_;
  }
  if (!make_folder(folder)) return status_;
  if (!applyPermissions(folder)) {
    QV_LOG(log_error, "Unable to set permissions on spool folder");
    return status_;
  }
  spoolFolder_ = wide_string::from_narrow(folder);
  QV_LOG(log_information, "spool folder is %s", folder.c_str());
  remove_own_files_older_than(folder, spool_copy_lifetime);
  status_ = 0;
  return 0;
}

int32_t spooler_impl::copyIntoSpoolFolder(const std::string& file, std::string& copy) {
  const std::string folder = spoolFolder_.narrow();
  if (folder.empty()) {
    QV_LOG(log_error, "Unable to copy job '%s' into the spool folder: there is none", file.c_str());
    return ENOENT;
  }
  // The system's clean-up of temporary folders may have removed it while the console ran.
  if (mkdir(folder.c_str(), 0700) == 0) {
    QV_LOG(log_warning, "Spool folder '%s' was gone and is made again", folder.c_str());
    applyPermissions(folder);
  }
  remove_own_files_older_than(folder, spool_copy_lifetime);

  // The number after the stem keeps names apart across the day's copies; what still collides gets a
  // " (n)". Room is left for both in a name the file system takes.
  auto [stem, extension] = split_file_name(file);
  constexpr size_t number_room = 16;  // "-" + ten digits + " (99)"
  if (NAME_MAX > extension.size() + number_room)
    stem = utf8_prefix(stem, NAME_MAX - extension.size() - number_room);
  stem = makeFileName(wide_string::from_narrow(stem)).narrow();
  const int32_t error = copy_file_as(file, folder, stem, extension, 0600, copy);
  if (error != 0) {
    QV_LOG(log_error, "Unable to copy job '%s' into spool folder '%s': %s (%d)", file.c_str(), folder.c_str(),
           std::strerror(error), error);
  }
  return error;
}

wide_string spooler_impl::makeFileName(const wide_string& base) {
  std::u16string text = base.text();
  text += u"-";
  for (char digit : std::to_string(seconds_since_boot())) text += static_cast<char16_t>(digit);
  if (text.size() > max_path_characters) text.resize(max_path_characters);
  return wide_string(std::move(text));
}

void spooler_impl::print(model::printer_ptr printer, model::job_ptr job, print_completion completion) {
  // Every failure is told once, here, in the words of the reason table; the record keeps why.
  completion = [printer, job, completion = std::move(completion)](int32_t status, int32_t state, int32_t id) {
    if (status != 0) {
      const delivery_failure why = failure_of(*job, status);
      job->setDeliveryFailure(static_cast<int32_t>(why));
      QV_LOG(log_error, "Unable to deliver job '%s' to printer '%s': %s", job->name().narrow().c_str(),
             printer->name().narrow().c_str(), reason_sentence(why));
    }
    completion(status, state, id);
  };
  std::string path = job->filename().narrow();
  if (keeps_documents(*printer)) {
    // A printer whose folder is "Default" keeps its documents in the default folder, made on first use;
    // without one a document that is neither opened nor printed would be lost.
    const std::string directory = document_folder_of(*printer);
    if (directory.empty()) {
      QV_LOG(log_error, "Unable to keep job '%s': there is no home folder for the default folder",
             path.c_str());
      job->setDeliveryFailure(static_cast<int32_t>(delivery_failure::folder_missing));
      completion(ENOENT, model::job_state_aborted, 0);
      return;
    }
    if (printer->directory().empty() && !make_folders(directory)) {
      const int32_t error = errno;
      QV_LOG(log_error, "Unable to create folder '%s': %s (%d)", directory.c_str(), std::strerror(error),
             error);
      job->setDeliveryFailure(static_cast<int32_t>(folder_failure_of(error)));
      completion(error, model::job_state_aborted, 0);
      return;
    }
    std::string copy;
    if (const int32_t error = copy_into_folder(path, directory, copy); error != 0) {
      QV_LOG(log_error, "Unable to copy job '%s' into folder '%s': %s (%d)", path.c_str(), directory.c_str(),
             std::strerror(error), error);
      job->setDeliveryFailure(static_cast<int32_t>(copy_failure_of(path, error)));
      completion(error, model::job_state_aborted, 0);
      return;
    }
    // From here on the job is the copy: the received file is gone.
    path = copy;
    job->setFilename(wide_string::from_narrow(path));
  } else if (printer->action() == model::action_open) {
    // The service removes its file as soon as the job is answered, and an application (or the running one
    // a desktop opener hands the file to) may read it only later: it gets a copy of its own.
    std::string copy;
    if (const int32_t error = copyIntoSpoolFolder(path, copy); error != 0) {
      // The spool folder is the console's own: a failure there is not the printer's folder's.
      const delivery_failure why = copy_failure_of(path, error);
      job->setDeliveryFailure(static_cast<int32_t>(
          why == delivery_failure::document_unreadable ? why : delivery_failure::unknown));
      completion(error, model::job_state_aborted, 0);
      return;
    }
    path = copy;
    job->setFilename(wide_string::from_narrow(path));
    // A copy that nothing will open goes at once.
    completion = [copy, completion = std::move(completion)](int32_t status, int32_t state, int32_t id) {
      if (status != 0) unlink(copy.c_str());
      completion(status, state, id);
    };
  }

  if (printer->action() == model::action_open) {
    const std::string application = printer->actionParam().narrow();
    auto opened = [job, application, completion = std::move(completion)](int32_t status, int32_t state,
                                                                         int32_t id) {
      if (status != 0) job->setDeliveryFailure(static_cast<int32_t>(open_failure_of(application)));
      completion(status, state, id);
    };
    open_with_application(application, path, main_runloop(), std::move(opened));
    return;
  }
  if (printer->action() != model::action_print) {
    completion(0, model::job_state_completed, 0);
    return;
  }

  if (const std::string format = job->format().narrow(); !printable_format(format)) {
    QV_LOG(log_error, "Unsupported format: %s", format.c_str());
    job->setDeliveryFailure(static_cast<int32_t>(delivery_failure::format_not_printable));
    completion(-1, model::job_state_aborted, 0);
    return;
  }
  runloop* loop = main_runloop();
  if (!loop) {
    QV_LOG(log_error, "Unable to print job '%s': no run loop to report to", job->name().narrow().c_str());
    completion(-1, model::job_state_aborted, 0);
    return;
  }
  // The helper prints on a copy of the records made here; the worker only waits for it, and the record is
  // updated from its reply on the loop's thread. A helper that cannot run or ends without a reply (a
  // renderer that crashed on the document) fails the job and leaves the console running.
  auto request = std::make_shared<const Json::Value>(print_request(*printer, *job, log_level_threshold()));
  auto outcome = std::make_shared<print_outcome>();
  outcome->orientation = job->orientation();
  outcome->delivery_failure = static_cast<int32_t>(delivery_failure::unknown);
  auto work = [request, outcome] {
    Json::Value reply;
    if (run_print_helper(print_helper_path(), "print", *request, reply) &&
        !read_outcome_reply(reply, *outcome)) {
      QV_LOG(log_error, "Unable to read the print helper's answer: %s", compact_json(reply).c_str());
    }
  };
  auto report = [job, outcome, completion]() {
    job->setOrientation(outcome->orientation);
    job->setDeliveryFailure(outcome->delivery_failure);
    completion(outcome->status, outcome->state, outcome->platform_id);
  };
  if (!run_in_background(*loop, std::move(work), std::move(report))) {
    completion(-1, model::job_state_aborted, 0);
  }
}

void spooler_impl::deleteJob(model::printer_ptr printer, model::job_ptr job, delete_completion done) {
  if (printer->action() != model::action_print || job->platformID() <= 0) {
    done(0);
    return;
  }
  runloop* loop = main_runloop();
  if (!loop) {
    QV_LOG(log_error, "Unable to delete job %d: no run loop to report to", job->platformID());
    done(-1);
    return;
  }
  auto outcome = std::make_shared<int32_t>(0);
  auto request = std::make_shared<const Json::Value>(
      purge_request(printer->name().narrow(), job->platformID(), cups_owner_name(job->user().narrow()),
                    log_level_threshold()));
  auto work = [outcome, request] {
    Json::Value reply;
    *outcome = run_print_helper(print_helper_path(), "purge", *request, reply)
                   ? int_member(reply, "status", -1)
                   : -1;
  };
  auto report = [outcome, done]() { done(*outcome); };
  if (!run_in_background(*loop, std::move(work), std::move(report))) done(-1);
}

}  // namespace quorvane
