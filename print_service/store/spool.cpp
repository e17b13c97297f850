#include "print_service/store/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/log.h"
#include "core/os.h"
#include "model/document_formats.h"

namespace quorvane::print_service {
namespace {

std::string sanitized(std::string_view part) {
  std::string out(part);
  for (char& c : out) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  return out;
}

// Flushes the entries of `folder` to the disk. False with errno set on failure.
bool sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}

// The folder that holds `path` ("." for a bare name).
std::string parent_folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string detect_format(std::string_view head) {
  // Only the formats the console prints itself: a raster document is no document it could be handed.
  const model::document_format* format = model::document_format_of(head);
  return format && model::is_handed_over(*format) ? format->mime_type : "application/octet-stream";
}

std::string detect_file_format(const std::string& path) {
  const int in = open_regular_file(path);
  if (in < 0) return {};
  char head[16] = {};
  size_t count = 0;
  while (count < sizeof head) {
    const ssize_t got = read(in, head + count, sizeof head - count);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(in);
      errno = error;
      return {};
    }
    if (got == 0) break;
    count += static_cast<size_t>(got);
  }
  close(in);
  return detect_format(std::string_view(head, count));
}

std::string spooled_file_name(std::string_view document, int32_t flags, std::string_view user,
                              std::string_view address, std::string_view hardware_address) {
  const size_t slash = document.rfind('/');
  std::string_view base = slash == std::string_view::npos ? document : document.substr(slash + 1);
  // A leading dot starts a hidden name, not an extension.
  std::string_view extension;
  if (const size_t dot = base.rfind('.'); dot != std::string_view::npos && dot > 0) {
    extension = base.substr(dot);
    base = base.substr(0, dot);
  }
  std::string name = base.empty() ? std::string("document") : sanitized(base);
  if ((flags & filename_with_user) && !user.empty()) name += "+" + sanitized(user);
  if ((flags & filename_with_address) && !address.empty()) name += "+" + sanitized(address);
  if ((flags & filename_with_hardware_address) && !hardware_address.empty()) {
    name += "+" + sanitized(hardware_address);
  }
  // A name the file system cannot take would make the job fail as unreadable: the stem gives way, so that
  // the extension (which says how to open the file) stays.
  std::string suffix = utf8_prefix(sanitized(extension), max_spooled_name - 1);
  return utf8_prefix(name, max_spooled_name - suffix.size()) + suffix;
}

bool is_job_folder_name(std::string_view name) {
  if (name.size() != 36) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool remove_job_spool(const std::string& spool_folder, const std::string& job_uuid) {
  if (!is_job_folder_name(job_uuid)) {
    QV_LOG(log_error, "Unable to delete spool folder '%s': not a job's folder", job_uuid.c_str());
    return false;
  }
  const std::string folder = spool_folder + "/" + job_uuid;
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    if (errno == ENOENT) return true;
    QV_LOG(log_error, "Unable to delete spool folder '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  // A job's folder holds its documents only, never folders.
  bool ok = true;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) != 0 && errno != ENOENT) {
      QV_LOG(log_error, "Unable to delete spooled document '%s/%s': %s", folder.c_str(), entry->d_name,
             strerror(errno));
      ok = false;
    }
  }
  closedir(dir);
  if (rmdir(folder.c_str()) != 0 && errno != ENOENT) {
    QV_LOG(log_error, "Unable to delete spool folder '%s': %s", folder.c_str(), strerror(errno));
    return false;
  }
  return ok;
}

int32_t clean_spool(const std::string& spool_folder, const std::set<std::string>& keep,
                    bool others_may_pass) {
  if (!make_folders(spool_folder)) {
    QV_LOG(log_error, "Unable to create spool folder '%s': %s", spool_folder.c_str(), strerror(errno));
    return -1;
  }
  // The documents are other people's pages: the folder is the service's account's alone, or passable (never
  // readable) by others where each job folder lets its receiver in.
  const mode_t others = others_may_pass ? 0011 : 0;
  struct stat info {};
  if (stat(spool_folder.c_str(), &info) == 0 && (info.st_mode & 077) != others &&
      chmod(spool_folder.c_str(), (info.st_mode & 0700) | others) != 0) {
    QV_LOG(log_warning, "Unable to make spool folder '%s' private: %s", spool_folder.c_str(),
           strerror(errno));
  }
  DIR* dir = opendir(spool_folder.c_str());
  if (!dir) {
    QV_LOG(log_error, "Unable to read spool folder '%s': %s", spool_folder.c_str(), strerror(errno));
    return -1;
  }
  std::vector<std::string> leftovers;
  while (const dirent* entry = readdir(dir)) {
    if (is_job_folder_name(entry->d_name) && !keep.count(entry->d_name))
      leftovers.emplace_back(entry->d_name);
  }
  closedir(dir);
  int32_t removed = 0;
  for (const std::string& name : leftovers) {
    if (remove_job_spool(spool_folder, name)) ++removed;
  }
  if (removed > 0) {
    QV_LOG(log_information, "Deleted the documents of %d ended job(s) left in '%s'", removed,
           spool_folder.c_str());
  }
  return removed;
}

uint64_t spool_reserve(uint64_t file_system_size) {
  constexpr uint64_t mib = 1024 * 1024;
  return std::clamp<uint64_t>(file_system_size / 100, 16 * mib, 512 * mib);
}

bool spool_has_room(const std::string& folder, uint64_t bytes, std::string& cause) {
  // The spool folder and a job's folder are made on the first copy; until then their parent tells.
  std::string existing = folder.empty() ? std::string("/") : folder;
  struct statvfs fs {};
  while (statvfs(existing.c_str(), &fs) != 0) {
    const size_t slash = existing.rfind('/');
    if (errno != ENOENT || slash == std::string::npos || existing == "/") {
      cause = "the free space of '" + existing + "' cannot be read (" + strerror(errno) + ")";
      return false;
    }
    existing = slash == 0 ? std::string("/") : existing.substr(0, slash);
  }
  const uint64_t block = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
  const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * block;
  const uint64_t reserve = spool_reserve(static_cast<uint64_t>(fs.f_blocks) * block);
  if (bytes <= available && available - bytes >= reserve) return true;
  constexpr uint64_t mib = 1024 * 1024;
  cause = "the spool's file system has " + std::to_string(available / mib) +
          " MiB free, the document needs " + std::to_string(bytes / mib + (bytes % mib != 0)) + " MiB and " +
          std::to_string(reserve / mib) + " MiB must stay free";
  return false;
}

std::string copy_into_spool(const std::string& source, const std::string& folder, const std::string& name) {
  const int in = open_regular_file(source);
  if (in < 0) {
    QV_LOG(log_error, "Unable to open document '%s': %s", source.c_str(),
           errno == EINVAL ? "not a regular file" : strerror(errno));
    return {};
  }
  if (!make_folders(folder)) {
    QV_LOG(log_error, "Unable to create spool folder '%s': %s", folder.c_str(), strerror(errno));
    close(in);
    return {};
  }
  const std::string target = folder + "/" + name;
  const int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    QV_LOG(log_error, "Unable to create spooled document '%s': %s", target.c_str(), strerror(errno));
    close(in);
    return {};
  }
  bool ok = true;
  if (const int error = copy_contents(in, out); error != 0) {
    QV_LOG(log_error, "Unable to copy document '%s' to '%s': %s", source.c_str(), target.c_str(),
           strerror(error));
    ok = false;
  }
  close(in);
  // A job is answered as accepted only once its document would survive a power loss: its bytes, its name
  // in the job's folder and the folder's name in the spool each reach the disk here, before the job's record
  // is committed (see service_store::add_job). The three flushes run at once: a journalling file system
  // writes them in one commit of its journal where one after another would take three.
  if (ok) {
    int folder_error = 0, spool_error = 0;
    std::thread folder_flush([&] { folder_error = sync_folder(folder) ? 0 : errno; });
    std::thread spool_flush([&] { spool_error = sync_folder(parent_folder(folder)) ? 0 : errno; });
    const int document_error = fdatasync(out) == 0 ? 0 : errno;
    folder_flush.join();
    spool_flush.join();
    if (const int error = document_error ? document_error : folder_error ? folder_error : spool_error) {
      QV_LOG(log_error, "Unable to write spooled document '%s' to disk: %s", target.c_str(), strerror(error));
      ok = false;
    }
  }
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(target.c_str());
    rmdir(folder.c_str());
    return {};
  }
  return target;
}

}  // namespace quorvane::print_service

namespace quorvane::print_service {
namespace {

// Frees an ACL on every return path.
struct acl_guard {
  acl_t acl;
  ~acl_guard() {
    if (acl) acl_free(acl);
  }
};

// Gives `account` the permissions `permissions` (ACL_READ, ACL_WRITE, ACL_EXECUTE bits) on `path` through a
// named user entry of its access ACL, nobody else more than before. False with errno set on failure.
bool grant_account(const std::string& path, uid_t account, std::initializer_list<acl_perm_t> permissions) {
  acl_guard acl{acl_get_file(path.c_str(), ACL_TYPE_ACCESS)};
  if (!acl.acl) return false;
  acl_entry_t entry = nullptr;
  acl_permset_t set = nullptr;
  if (acl_create_entry(&acl.acl, &entry) != 0 || acl_set_tag_type(entry, ACL_USER) != 0 ||
      acl_set_qualifier(entry, &account) != 0 || acl_get_permset(entry, &set) != 0 ||
      acl_clear_perms(set) != 0) {
    return false;
  }
  for (const acl_perm_t permission : permissions) acl_add_perm(set, permission);
  return acl_set_permset(entry, set) == 0 && acl_calc_mask(&acl.acl) == 0 &&
         acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl.acl) == 0;
}

}  // namespace

bool grant_receiver_access(const std::string& document, uid_t account, bool may_delete) {
  const std::string folder = document.substr(0, document.rfind('/'));
  // The folder lets the receiver reach (and, where its console moves documents away, remove) the file;
  // the file is the receiver's to read. Neither is listed to, or readable by, anyone else.
  const bool granted =
      grant_account(folder, account,
                    may_delete ? std::initializer_list<acl_perm_t>{ACL_READ, ACL_WRITE, ACL_EXECUTE}
                               : std::initializer_list<acl_perm_t>{ACL_READ, ACL_EXECUTE}) &&
      grant_account(document, account, {ACL_READ});
  if (!granted) {
    QV_LOG(log_error, "Unable to open document '%s' to account %u: %s", document.c_str(),
           static_cast<unsigned>(account), strerror(errno));
  }
  return granted;
}

}  // namespace quorvane::print_service
