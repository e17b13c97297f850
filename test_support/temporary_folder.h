// Test helper: a temporary folder that goes with everything in it.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace quorvane::testing_support {

/// A new empty folder under the system's temporary folder ($TMPDIR, else /tmp), removed with everything in
/// it at destruction.
class temporary_folder {
 public:
  /// Makes the folder; when it cannot, the running test fails and `path()` is empty.
  temporary_folder();
  /// Removes the folder and everything in it.
  ~temporary_folder();
  /// Not copyable.
  temporary_folder(const temporary_folder&) = delete;
  /// Not assignable.
  temporary_folder& operator=(const temporary_folder&) = delete;

  /// The folder's absolute path ("" when it could not be made).
  const std::string& path() const { return path_; }
  /// `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Points XDG_DATA_HOME at a temporary folder for the whole test program, before any test reaches the
/// workspace, so that the process-wide database lives there.
class data_home_environment final : public ::testing::Environment {
 public:
  /// Makes the folder and points XDG_DATA_HOME at it.
  void SetUp() override;
  /// Removes the folder.
  void TearDown() override { folder_.reset(); }

 private:
  std::unique_ptr<temporary_folder> folder_;
};

}  // namespace quorvane::testing_support
