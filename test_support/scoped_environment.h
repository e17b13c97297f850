// Test helper: an environment variable set or unset for the life of an object.
#pragma once

#include <optional>
#include <string>

namespace quorvane::testing_support {

/// Sets (or, given no value, unsets) one environment variable and restores its earlier state at destruction.
class scoped_environment {
 public:
  /// Sets `name` to `value`, or unsets it when there is no value.
  scoped_environment(std::string name, std::optional<std::string> value);
  /// Restores the earlier value, or unsets the variable when it had none.
  ~scoped_environment();
  /// Not copyable.
  scoped_environment(const scoped_environment&) = delete;
  /// Not assignable.
  scoped_environment& operator=(const scoped_environment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace quorvane::testing_support
