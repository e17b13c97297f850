#include "test_support/temporary_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quorvane::testing_support {

temporary_folder::temporary_folder() {
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) base = "/tmp";
  std::string pattern = (base / "quorvane-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    ADD_FAILURE() << "Unable to make temporary folder '" << pattern << "': " << std::strerror(errno);
    return;
  }
  path_ = pattern;
}

temporary_folder::~temporary_folder() {
  if (path_.empty()) return;
  std::error_code error;
  if (std::filesystem::remove_all(path_, error) != static_cast<std::uintmax_t>(-1)) return;
  // A test may have taken its own rights away from something inside: give them back and try once more. A
  // folder's rights are given back when it is met, before the walk goes into it.
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  error.clear();
  for (auto it =
           fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, error);
}

void data_home_environment::SetUp() {
  folder_ = std::make_unique<temporary_folder>();
  setenv("XDG_DATA_HOME", folder_->path().c_str(), /*overwrite=*/1);
}

}  // namespace quorvane::testing_support
