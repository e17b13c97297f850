// Test helpers: temporary folders, and a process-wide data folder that is never the user's own.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace quorvane::testing_support {

/// A new empty folder under the system's temporary folder, removed with everything in it at destruction.
class temporary_folder {
 public:
  /// Creates the folder; throws when it cannot (a test set-up failure).
  temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  /// Removes the folder and everything in it.
  ~temporary_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  /// Not copyable.
  temporary_folder(const temporary_folder&) = delete;
  /// Not assignable.
  temporary_folder& operator=(const temporary_folder&) = delete;

  /// The folder's absolute path.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Points XDG_DATA_HOME at a temporary folder for the whole test program, before any test reaches the
/// workspace, so that the process-wide database lives there.
class data_home_environment final : public ::testing::Environment {
 public:
  /// Creates the folder and points XDG_DATA_HOME at it.
  void SetUp() override {
    folder_ = std::make_unique<temporary_folder>();
    setenv("XDG_DATA_HOME", folder_->path().c_str(), /*overwrite=*/1);
  }
  /// Removes the folder.
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<temporary_folder> folder_;
};

}  // namespace quorvane::testing_support
