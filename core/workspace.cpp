#include "core/workspace.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "core/files.h"
#include "core/log.h"

namespace quorvane {

workspace& workspace::shared() {
  return initialized(workspace_posix::instance());
}

workspace_posix& workspace_posix::instance() {
  static workspace_posix the_workspace;
  return the_workspace;
}

std::string home_folder() {
  std::string home = environment("HOME");
  if (home.empty()) {
    if (const passwd* account = getpwuid(getuid())) home = account->pw_dir ? account->pw_dir : "";
  }
  return home;
}

std::string local_data_folder() {
  std::string base = environment("XDG_DATA_HOME");
  if (!base.empty() && base.front() == '/') return base;
  const std::string home = home_folder();
  if (home.empty()) return {};
  return home + "/.local/share";
}

int32_t workspace_posix::applicationWillInitialize() {
  if (status_ == 0) return 0;

  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    QV_LOG(log_error, "readlink(/proc/self/exe) failed: %d", errno);
    return status_;
  }
  path[length] = '\0';
  char* slash = strrchr(path, '/');
  if (!slash) {
    QV_LOG(log_error, "Unable to find the folder of '%s'", path);
    return status_;
  }
  *slash = '\0';
  module_folder_ = wide_string::from_narrow(path);

  const std::string base = local_data_folder();
  if (base.empty()) {
    QV_LOG(log_error, "Unable to find the local data folder: neither XDG_DATA_HOME nor HOME is set");
    return status_;
  }
  const std::string folder = base + "/Quorvane";

  // A plain file of that name is replaced by the folder. A link to a folder is that folder (the user moved
  // the data elsewhere), so the test follows links; a link to anything else, or to nothing, goes.
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) unlink(folder.c_str());
  if (!make_folders(folder)) return status_;

  data_folder_ = wide_string::from_narrow(folder);
  status_ = 0;
  return 0;
}

}  // namespace quorvane
