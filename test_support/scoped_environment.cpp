#include "test_support/scoped_environment.h"

#include <stdlib.h>

namespace quorvane::testing_support {

scoped_environment::scoped_environment(std::string name, std::optional<std::string> value)
    : name_(std::move(name)) {
  if (const char* now = getenv(name_.c_str())) previous_ = now;
  if (value) {
    setenv(name_.c_str(), value->c_str(), /*overwrite=*/1);
  } else {
    unsetenv(name_.c_str());
  }
}

scoped_environment::~scoped_environment() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), /*overwrite=*/1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace quorvane::testing_support
